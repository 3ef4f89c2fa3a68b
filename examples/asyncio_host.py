#!/usr/bin/python3
"""An asyncio host: starts every extension given at once, calls each of its callables that
takes no argument, an integer, text or any value, all at the same time from one loop, and
ends them all.
usage: asyncio_host.py 'COMMAND LINE' ['COMMAND LINE' ...]
e.g.   asyncio_host.py 'sample-extension --protocol 1' './other --protocol 1'"""
import asyncio
import json
import shlex
import sys

import extension_host

EXAMPLES = {"()": [], "Int": [1], "String": ["hello"], "Value": ["hello"]}


async def exercise(extension):
    """Each callable that an example fits, called at once: (name, arguments, outcome)."""
    calls = [(callable_.name, EXAMPLES[callable_.input])
             for callable_ in extension.extension.catalogue
             if callable_.input in EXAMPLES and
             callable_.minimum_arity <= len(EXAMPLES[callable_.input]) <= callable_.maximum_arity]
    outcomes = await asyncio.gather(*(extension.call(name, *arguments) for name, arguments in calls),
                                    return_exceptions=True)
    return [(name, arguments, outcome) for (name, arguments), outcome in zip(calls, outcomes)]


async def main(command_lines):
    extensions = await asyncio.gather(*(extension_host.start(shlex.split(line))
                                        for line in command_lines))
    results = await asyncio.gather(*(exercise(extension) for extension in extensions))
    for extension, calls in zip(extensions, results):
        print(f"{extension.extension.id} {extension.extension.version}:")
        for name, arguments, outcome in calls:
            shown = ", ".join(json.dumps(argument) for argument in arguments)
            if isinstance(outcome, extension_host.CallFailed):
                print(f"  {name}({shown}) failed: {outcome.kind} {outcome.code}")
            elif isinstance(outcome, Exception):
                print(f"  {name}({shown}): {outcome}")
            else:
                print(f"  {name}({shown}) = {json.dumps(outcome)}")
    endings = await asyncio.gather(*(extension.stop() for extension in extensions))
    for extension, ending in zip(extensions, endings):
        print(f"{extension.extension.id} ended: {ending.words}")
        extension.close()


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit("usage: asyncio_host.py 'COMMAND LINE' ['COMMAND LINE' ...]")
    try:
        asyncio.run(main(sys.argv[1:]))
    except extension_host.StartError as failed:
        sys.exit(f"cannot start: {failed}")
