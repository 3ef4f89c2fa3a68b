"""Runs extensions of the line protocol from Python, through libextension-host.

An extension is a child process that talks JSON, one object per line, over its standard
input and output. The library starts it in a sandbox, reads its announcement, checks each
call against its catalogue, matches answers to calls, and ends it in steps, leaving no
process behind.

Blocking use::

    with extension_host.Extension.start(["sample-extension", "--protocol", "1"]) as sample:
        print(sample.call("sample.echo", {"a": 1}))

With asyncio, many extensions from one loop::

    sample = await extension_host.start(["sample-extension", "--protocol", "1"])
    value = await sample.call("sample.echo", "hi")
    ending = await sample.stop()

The library is found as libextension-host.so.0 on the loader's path, or where the
environment's EXTENSION_HOST_LIBRARY names it.
"""
import asyncio
import ctypes
import dataclasses
import json
import os

__all__ = [
    "ExtensionHostError", "StartError", "CallFailed", "UnfitCall", "Settings", "Callable",
    "Ending", "Extension", "AsyncExtension", "start",
]

_lib = ctypes.CDLL(os.environ.get("EXTENSION_HOST_LIBRARY", "libextension-host.so.0"))

_OK, _AGAIN, _UNFIT_CALL = 0, 1, 11
_SANDBOXES = {"whole": 0, "weaker": 1, "none": 2}
_DEADLINES = {"start_ms": 0, "call_ms": 1, "shutdown_ms": 2, "closed_input_ms": 3,
              "terminate_ms": 4}
_STEPS = {0: "running", 1: "alone", 2: "shutdown", 3: "closed input", 4: "terminate",
          5: "killed"}
_TEXT_MEMBERS = {"name": 0, "input": 1, "output": 2, "effect": 3, "threading": 4}
_NUMBER_MEMBERS = {"minimum_arity": 5, "maximum_arity": 6, "action": 7, "cancel": 8,
                   "lazy": 9, "sendable": 10}

_ERROR_LINE = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.POINTER(ctypes.c_char),
                               ctypes.c_size_t)


def _declare(name, result, *arguments):
    function = getattr(_lib, name)
    function.restype = result
    function.argtypes = list(arguments)
    return function


_p, _cp, _int, _size, _u64 = (ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int, ctypes.c_size_t,
                              ctypes.c_uint64)
_status_name = _declare("eh_status_name", _cp, _int)
_settings_new = _declare("eh_settings_new", _int, ctypes.POINTER(_p))
_settings_free = _declare("eh_settings_free", None, _p)
_settings_sandbox = _declare("eh_settings_sandbox", _int, _p, _int)
_settings_network = _declare("eh_settings_network", _int, _p, _int)
_settings_grant = _declare("eh_settings_grant", _int, _p, _cp, _int)
_settings_environment = _declare("eh_settings_environment", _int, _p, _cp)
_settings_limits = _declare("eh_settings_limits", _int, _p, ctypes.c_long, _size)
_settings_deadline = _declare("eh_settings_deadline", _int, _p, _int, ctypes.c_uint)
_settings_check_calls = _declare("eh_settings_check_calls", _int, _p, _int)
_settings_error_lines = _declare("eh_settings_error_lines", _int, _p, _ERROR_LINE, _p)
_settings_errmsg = _declare("eh_settings_errmsg", _cp, _p)
_start = _declare("eh_start", _int, _p, ctypes.POINTER(_cp), ctypes.POINTER(_p))
_free = _declare("eh_free", None, _p)
_errmsg = _declare("eh_errmsg", _cp, _p)
_extension_id = _declare("eh_extension_id", _cp, _p)
_extension_version = _declare("eh_extension_version", _cp, _p)
_sandbox_words = _declare("eh_sandbox_words", _cp, _p)
_callable_count = _declare("eh_callable_count", _size, _p)
_callable_text = _declare("eh_callable_text", _cp, _p, _size, _int)
_callable_number = _declare("eh_callable_number", _int, _p, _size, _int,
                            ctypes.POINTER(ctypes.c_longlong))
_call = _declare("eh_call", _int, _p, _cp, _cp, ctypes.POINTER(_p))
_submit = _declare("eh_submit", _int, _p, _cp, _cp, ctypes.POINTER(_u64))
_descriptor = _declare("eh_descriptor", _int, _p)
_perform = _declare("eh_perform", _int, _p)
_timeout_ms = _declare("eh_timeout_ms", _int, _p)
_next_reply = _declare("eh_next_reply", _int, _p, ctypes.POINTER(_p))
_reply_ticket = _declare("eh_reply_ticket", _u64, _p)
_reply_failed = _declare("eh_reply_failed", _int, _p)
_reply_value = _declare("eh_reply_value", _cp, _p)
_reply_error_kind = _declare("eh_reply_error_kind", _cp, _p)
_reply_error_code = _declare("eh_reply_error_code", _cp, _p)
_reply_error_message = _declare("eh_reply_error_message", _cp, _p)
_reply_free = _declare("eh_reply_free", None, _p)
_stop = _declare("eh_stop", _int, _p)
_kill = _declare("eh_kill", _int, _p)
_ending = _declare("eh_ending", _int, _p, ctypes.POINTER(_int), ctypes.POINTER(_int),
                   ctypes.POINTER(_int))
_ending_words = _declare("eh_ending_words", _cp, _p)
_error_output = _declare("eh_error_output", ctypes.POINTER(ctypes.c_char), _p,
                         ctypes.POINTER(_size))


def _text(raw):
    return "" if raw is None else raw.decode("utf-8", "replace")


class ExtensionHostError(Exception):
    """A call into the library failed: `status` is its name ("EH_TIMED_OUT"), `why` its
    reason in words."""

    def __init__(self, status, why):
        super().__init__(f"{status}: {why}" if why else status)
        self.status = status
        self.why = why


class StartError(ExtensionHostError):
    """The extension could not be started, or announced nothing usable."""


class UnfitCall(ExtensionHostError):
    """The call does not fit the catalogue, and was not sent; the extension goes on."""


class CallFailed(ExtensionHostError):
    """The extension answered the call with an "error": its kind, code and message."""

    def __init__(self, kind, code, message):
        super().__init__("EH_OK", f"{kind} {code}: {message}")
        self.kind = kind
        self.code = code
        self.message = message


def _raise_for(status, why, error=ExtensionHostError):
    name = _text(_status_name(status))
    if status == _UNFIT_CALL:
        raise UnfitCall(name, why)
    raise error(name, why)


class Settings:
    """What extensions are started with. `on_error_line(line: bytes)` is given each line
    of their standard error, from within the library's calls."""

    def __init__(self, *, sandbox="whole", network=False, read=(), write=(), environment=(),
                 processes=0, memory=0, check_calls=True, on_error_line=None, **deadlines):
        handle = _p()
        if _settings_new(ctypes.byref(handle)) != _OK:
            raise MemoryError("no memory for settings")
        self._handle = handle
        self._keep = None
        self._set(_settings_sandbox(self._handle, _SANDBOXES[sandbox]))
        self._set(_settings_network(self._handle, 1 if network else 0))
        for folder in read:
            self._set(_settings_grant(self._handle, os.fsencode(folder), 0))
        for folder in write:
            self._set(_settings_grant(self._handle, os.fsencode(folder), 1))
        for variable in environment:
            self._set(_settings_environment(self._handle, os.fsencode(variable)))
        self._set(_settings_limits(self._handle, processes, memory))
        self._set(_settings_check_calls(self._handle, 1 if check_calls else 0))
        for name, milliseconds in deadlines.items():
            if name not in _DEADLINES:
                raise TypeError(f"no deadline {name}; there are {', '.join(_DEADLINES)}")
            self._set(_settings_deadline(self._handle, _DEADLINES[name], milliseconds))
        if on_error_line is not None:
            def hand(_context, line, length):
                on_error_line(ctypes.string_at(line, length))
            self._keep = _ERROR_LINE(hand)  # alive as long as the settings
            self._set(_settings_error_lines(self._handle, self._keep, None))

    def _set(self, status):
        if status != _OK:
            _raise_for(status, _text(_settings_errmsg(self._handle)))

    def __del__(self):
        if getattr(self, "_handle", None):
            _settings_free(self._handle)
            self._handle = None


@dataclasses.dataclass(frozen=True)
class Callable:
    name: str
    input: str
    output: str
    effect: str
    threading: str
    minimum_arity: int
    maximum_arity: int
    action: bool
    cancel: bool
    lazy: bool
    sendable: bool


@dataclasses.dataclass(frozen=True)
class Ending:
    """How it ended: the step that ended it ("alone", "shutdown", "closed input",
    "terminate", "killed"), its exit status or the signal, and all of it in words."""
    step: str
    exit_status: int
    signal: int
    words: str


def _decoded(reply):
    try:
        if _reply_failed(reply):
            raise CallFailed(_text(_reply_error_kind(reply)), _text(_reply_error_code(reply)),
                             _text(_reply_error_message(reply)))
        return json.loads(_reply_value(reply).decode("utf-8"))
    finally:
        _reply_free(reply)


class Extension:
    """One running extension, called from one thread at a time (the library serializes
    its calls)."""

    def __init__(self, handle, settings):
        self._handle = handle
        self._settings = settings  # its error-line callback lives as long as the extension

    @classmethod
    def start(cls, command, settings=None):
        """Starts `command` (the protocol's "--protocol" "1" included) and reads its
        announcement; raises StartError with why it could not."""
        words = [os.fsencode(word) for word in command]
        argv = (_cp * (len(words) + 1))(*words, None)
        handle = _p()
        status = _start(settings._handle if settings else None, argv, ctypes.byref(handle))
        extension = cls(handle, settings)
        if status != _OK:
            why = _text(_errmsg(handle)) if handle else ""
            extension.close()
            _raise_for(status, why, StartError)
        return extension

    @property
    def id(self):
        return _text(_extension_id(self._handle))

    @property
    def version(self):
        return _text(_extension_version(self._handle))

    @property
    def sandbox(self):
        return _text(_sandbox_words(self._handle))

    @property
    def catalogue(self):
        callables = []
        for index in range(_callable_count(self._handle)):
            members = {name: _text(_callable_text(self._handle, index, member))
                       for name, member in _TEXT_MEMBERS.items()}
            for name, member in _NUMBER_MEMBERS.items():
                value = ctypes.c_longlong()
                _callable_number(self._handle, index, member, ctypes.byref(value))
                members[name] = value.value if "arity" in name else bool(value.value)
            callables.append(Callable(**members))
        return callables

    def _fail(self, status):
        _raise_for(status, _text(_errmsg(self._handle)))

    def call(self, callable_name, *arguments):
        """Calls and waits for the answer: its value, or CallFailed."""
        reply = _p()
        status = _call(self._handle, callable_name.encode("utf-8"),
                       json.dumps(list(arguments)).encode("utf-8"), ctypes.byref(reply))
        if status != _OK:
            self._fail(status)
        return _decoded(reply)

    def stop(self):
        """Ends it in steps ("shutdown", its input closed, SIGTERM, SIGKILL) and says how
        it ended."""
        status = _stop(self._handle)
        if status != _OK:
            self._fail(status)
        return self.ending()

    def kill(self):
        _kill(self._handle)
        return self.ending()

    def ending(self):
        """How it ended, or None while it runs."""
        step, exit_status, signal = _int(), _int(), _int()
        if _ending(self._handle, ctypes.byref(step), ctypes.byref(exit_status),
                   ctypes.byref(signal)) != _OK:
            return None
        return Ending(_STEPS[step.value], exit_status.value, signal.value,
                      _text(_ending_words(self._handle)))

    @property
    def error_output(self):
        length = _size()
        bytes_ = _error_output(self._handle, ctypes.byref(length))
        return ctypes.string_at(bytes_, length.value)

    def close(self):
        """Ends it at once if it still runs, and lets the handle go."""
        if self._handle:
            _free(self._handle)
            self._handle = None

    def __enter__(self):
        return self

    def __exit__(self, *_exception):
        if self._handle and self.ending() is None:
            self.stop()
        self.close()

    def __del__(self):
        self.close()


class AsyncExtension:
    """One running extension driven by an asyncio loop: calls are written at once,
    pipelined, and each awaits its own answer; the loop watches the library's descriptor."""

    def __init__(self, extension, loop):
        self._extension = extension
        self._loop = loop
        self._waiting = {}  # ticket -> future
        self._timer = None
        self._broken = None
        loop.add_reader(_descriptor(extension._handle), self._ready)

    @property
    def extension(self):
        """The blocking handle: its id, version, catalogue and error output."""
        return self._extension

    async def call(self, callable_name, *arguments):
        if self._broken is not None:
            raise self._broken
        ticket = _u64()
        status = _submit(self._extension._handle, callable_name.encode("utf-8"),
                         json.dumps(list(arguments)).encode("utf-8"), ctypes.byref(ticket))
        if status != _OK:
            self._extension._fail(status)
        future = self._loop.create_future()
        self._waiting[ticket.value] = future
        self._ready()
        return await future

    def _ready(self):
        handle = self._extension._handle
        status = _perform(handle)
        while True:
            reply = _p()
            taken = _next_reply(handle, ctypes.byref(reply))
            if taken != _OK:
                if taken != _AGAIN:
                    status = taken
                break
            future = self._waiting.pop(_reply_ticket(reply))
            try:
                future.set_result(_decoded(reply))
            except CallFailed as failed:
                future.set_exception(failed)
        if status not in (_OK, _AGAIN):
            self._break(ExtensionHostError(_text(_status_name(status)), _text(_errmsg(handle))))
            return
        self._arm_timer()

    def _arm_timer(self):
        if self._timer is not None:
            self._timer.cancel()
            self._timer = None
        milliseconds = _timeout_ms(self._extension._handle)
        if milliseconds >= 0:
            self._timer = self._loop.call_later(milliseconds / 1000, self._ready)

    def _break(self, error):
        self._broken = error
        self._unwatch()
        for future in self._waiting.values():
            if not future.done():
                future.set_exception(error)
        self._waiting.clear()

    def _unwatch(self):
        if self._timer is not None:
            self._timer.cancel()
            self._timer = None
        if self._extension._handle:
            self._loop.remove_reader(_descriptor(self._extension._handle))

    async def stop(self):
        """Ends it in steps, off the loop's thread, and says how it ended. Calls still
        waiting are answered with ExtensionHostError."""
        self._unwatch()
        ending = await self._loop.run_in_executor(None, self._extension.stop)
        self._break(ExtensionHostError("EH_ENDED", "it was stopped: " + ending.words))
        return ending

    def close(self):
        self._unwatch()
        self._extension.close()

    async def __aenter__(self):
        return self

    async def __aexit__(self, *_exception):
        if self._extension._handle and self._extension.ending() is None:
            await self.stop()
        self.close()


async def start(command, settings=None):
    """Starts `command` off the loop's thread (a start waits for the announcement) and
    returns it for the running loop."""
    loop = asyncio.get_running_loop()
    extension = await loop.run_in_executor(None, Extension.start, command, settings)
    return AsyncExtension(extension, loop)
