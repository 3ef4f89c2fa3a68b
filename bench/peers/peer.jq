# A peer in jq: the same conversation as sample-extension as one jq filter, run as
# `jq --unbuffered -acS -f peer.jq` (compact, ASCII-only, sorted keys, a flush per reply).
def envelope(type; id): {type: type, request_id: id, extension_id: "sample", protocol_version: "1.0"};
def descriptor(name; action; cancel; effect; input; arity; output):
  {name: name, action: action, cancel: cancel, effect: effect, input: input, lazy: false,
   maximum_arity: arity, minimum_arity: arity, output: output, sendable: true,
   threading: "isolated_process"};

if .type == "call" and .callable == "sample.echo" then
  envelope("call_result"; .request_id) + {value: .arguments[0]}
elif .type == "handshake" then
  envelope("handshake_result"; "handshake") + {extension_version: "0.1.0"},
  envelope("register"; "register") + {callables: [
    descriptor("sample.echo"; false; false; "none"; "Value"; 1; "Value"),
    descriptor("sample.fail"; true; false; "custom"; "()"; 0; "Never"),
    descriptor("sample.wait"; false; true; "none"; "Int"; 1; "Int")]}
else
  empty
end
