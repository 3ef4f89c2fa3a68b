"""The Python binding against the sample and against extensions it has not seen, blocking
and from one asyncio loop.

Run with Debian's python3, the environment naming what to drive:
EXTENSION_HOST_LIBRARY (the built library), SAMPLE_EXTENSION, FAKES (the misbehaving
extensions' folder)."""
import asyncio
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), ".."))
import extension_host  # noqa: E402  (found beside the tests)

SAMPLE = [os.environ["SAMPLE_EXTENSION"], "--protocol", "1"]
FAKES = os.environ["FAKES"]
FORECAST = [os.path.join(FAKES, "forecast"), "--protocol", "1"]
HANGING_CALL = [os.path.join(FAKES, "hanging-call")]


def quick(ending_at="shutdown", **more):
    """Settings under which an extension that ends at step `ending_at` of stop() is seen
    to: the steps before it must pass, and are short (a lower bound only); from it on,
    each is awaited as an event, with a deadline only a hang reaches."""
    steps = ["shutdown", "closed_input", "terminate"]
    reached = steps.index(ending_at) if ending_at in steps else len(steps)
    deadlines = {f"{step}_ms": 300 if i < reached else 60000 for i, step in enumerate(steps)}
    return extension_host.Settings(read=[FAKES], **{**deadlines, **more})


class Blocking(unittest.TestCase):
    def test_the_sample_is_called_and_ends_after_shutdown(self):
        with extension_host.Extension.start(SAMPLE, quick()) as sample:
            self.assertEqual((sample.id, sample.version), ("sample", "0.1.0"))
            self.assertEqual([c.name for c in sample.catalogue],
                             ["sample.echo", "sample.fail", "sample.wait"])
            wait = sample.catalogue[2]
            self.assertEqual((wait.input, wait.output, wait.minimum_arity, wait.cancel),
                             ("Int", "Int", 1, True))
            value = {"b": ["h\u00e9llo", 1.5, None, True], "a": {}}
            self.assertEqual(sample.call("sample.echo", value), value)
            with self.assertRaises(extension_host.CallFailed) as failed:
                sample.call("sample.fail")
            self.assertEqual((failed.exception.kind, failed.exception.code,
                              failed.exception.message),
                             ("SampleError", "SAMPLE_FAILURE", "sample failure"))
            with self.assertRaises(extension_host.UnfitCall) as unfit:
                sample.call("sample.wait", "soon")
            self.assertIn("sample.wait takes Int", unfit.exception.why)
            self.assertEqual(sample.call("sample.wait", 1), 1)  # it goes on
            ending = sample.stop()
        self.assertEqual(ending, extension_host.Ending(
            "shutdown", 0, 0, 'exit status 0 after "shutdown"'))

    def test_a_failed_start_says_why(self):
        with extension_host.Extension.start(SAMPLE, quick()) as sample:
            self.assertEqual(sample.id, "sample")  # the command line is right
        with self.assertRaises(extension_host.StartError) as refused:
            extension_host.Extension.start(SAMPLE[:1] + ["--protocol", "2"], quick())
        self.assertEqual(refused.exception.status, "EH_REFUSED_COMMAND_LINE")
        self.assertIn("exit status 3", refused.exception.why)

    def test_standard_error_comes_line_by_line(self):
        lines = []
        command = ["/bin/sh", "-c", 'printf "one\\ntwo" >&2; exec "$0" --protocol 1', SAMPLE[0]]
        with extension_host.Extension.start(command, quick(on_error_line=lines.append)) as sample:
            self.assertEqual(sample.call("sample.echo", "x"), "x")
            sample.stop()
            self.assertEqual(sample.error_output, b"one\ntwo")
        self.assertEqual(lines, [b"one", b"two"])


class WithAsyncio(unittest.IsolatedAsyncioTestCase):
    async def test_two_extensions_from_one_loop(self):
        sample = await extension_host.start(SAMPLE, quick())
        forecast = await extension_host.start(FORECAST, quick())
        self.assertEqual(forecast.extension.id, "forecast")
        # Pipelined on one, and beside a call on the other.
        answers = await asyncio.gather(
            sample.call("sample.wait", 20), sample.call("sample.echo", [1, 2]),
            forecast.call("forecast.days", 2), sample.call("sample.echo", "last"))
        self.assertEqual(answers[0], 20)
        self.assertEqual(answers[1], [1, 2])
        self.assertEqual(answers[3], "last")
        with self.assertRaises(extension_host.CallFailed):
            await sample.call("sample.fail")
        self.assertEqual((await sample.stop()).step, "shutdown")
        self.assertEqual((await forecast.stop()).exit_status, 0)
        sample.close()
        forecast.close()

    async def test_one_that_never_answers_holds_up_no_other(self):
        async with await extension_host.start(HANGING_CALL, quick("terminate")) as silent:
            async with await extension_host.start(SAMPLE, quick()) as sample:
                unanswered = asyncio.ensure_future(silent.call("sample.echo", 1))
                self.assertEqual(await sample.call("sample.echo", "meanwhile"), "meanwhile")
                self.assertFalse(unanswered.done())  # it never answers: no race here
            ending = await silent.stop()
            self.assertEqual(ending.step, "terminate")
            with self.assertRaises(extension_host.ExtensionHostError) as ended:
                await unanswered
            self.assertEqual(ended.exception.status, "EH_ENDED")

    async def test_a_call_past_its_deadline_ends_it(self):
        silent = await extension_host.start(HANGING_CALL, quick("killed", call_ms=200))
        with self.assertRaises(extension_host.ExtensionHostError) as late:
            await silent.call("sample.echo", 1)
        self.assertEqual(late.exception.status, "EH_TIMED_OUT")
        self.assertEqual(silent.extension.ending().step, "killed")
        silent.close()


if __name__ == "__main__":
    unittest.main()
