"""A peer in Python: the same conversation as sample-extension, written the way a Python
user would write it with the standard json module. Each line is parsed, the reply is built
as a dict, encoded compact, ASCII-only and with sorted keys, and flushed on its own."""
import json
import sys

ENVELOPE = {"extension_id": "sample", "protocol_version": "1.0"}


def descriptor(name, action, cancel, effect, input_type, arity, output):
    return {"action": action, "cancel": cancel, "effect": effect, "input": input_type,
            "lazy": False, "maximum_arity": arity, "minimum_arity": arity, "name": name,
            "output": output, "sendable": True, "threading": "isolated_process"}


CALLABLES = [
    descriptor("sample.echo", False, False, "none", "Value", 1, "Value"),
    descriptor("sample.fail", True, False, "custom", "()", 0, "Never"),
    descriptor("sample.wait", False, True, "none", "Int", 1, "Int"),
]


def send(message):
    line = json.dumps(message, separators=(",", ":"), ensure_ascii=True, sort_keys=True)
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


def main():
    for line in sys.stdin:
        message = json.loads(line)
        kind = message.get("type")
        if kind == "call" and message.get("callable") == "sample.echo":
            send(dict(ENVELOPE, type="call_result", request_id=message["request_id"],
                      value=message["arguments"][0]))
        elif kind == "handshake":
            send(dict(ENVELOPE, type="handshake_result", request_id="handshake",
                      extension_version="0.1.0"))
            send(dict(ENVELOPE, type="register", request_id="register", callables=CALLABLES))
        else:
            return 0 if kind == "shutdown" else 2
    return 0


if __name__ == "__main__":
    sys.exit(main())
