# Shared by the misbehaving extensions: the two lines a well-behaved extension announces.
HANDSHAKE_RESULT='{"extension_id":"sample","extension_version":"0.1.0","protocol_version":"1.0","request_id":"handshake","type":"handshake_result"}'
DESCRIPTOR='{"action":false,"cancel":false,"effect":"none","input":"Value","lazy":false,"maximum_arity":1,"minimum_arity":1,"name":"sample.echo","output":"Value","sendable":true,"threading":"isolated_process"}'
REGISTER='{"callables":['"$DESCRIPTOR"'],"extension_id":"sample","protocol_version":"1.0","request_id":"register","type":"register"}'
announce() {
  read -r _handshake
  printf '%s\n%s\n' "$HANDSHAKE_RESULT" "$REGISTER"
}
