#!/usr/bin/env bash
# Runs examples/ansible/apply_profile.yml with ansible-playbook against this
# machine as the point-of-sale terminal, with two virtual printers on
# pseudo-terminals: check mode writes nothing, the first run changes both
# printers, the second changes nothing, and a printer that drops a switch write
# fails the play.
# Usage: ansible_example_test.sh TESSALY_CLI R3_SIM EXAMPLE_DIR
set -euo pipefail
cli=$1 sim=$2 example=$3
work=$(mktemp -d /tmp/ansible-example.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

start_printer() {  # name, r3-sim options...
  local name=$1; shift
  "$sim" --quiet --link "$work/$name" "$@" >"$work/$name.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do [ -e "$work/$name" ] && return; sleep 0.05; done
  fail "r3-sim $name did not start: $(cat "$work/$name.log")"
}

start_printer r3a
start_printer r3b --switch 2=00000001
start_printer r3c --fault ignore-switch-write --ignored-switch 2

cat >"$work/inventory.ini" <<INV
[pos_terminals]
localhost ansible_connection=local ansible_python_interpreter=/usr/bin/python3
INV

export LC_ALL=C.UTF-8 ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 \
  ANSIBLE_LOCAL_TEMP="$work/ansible-tmp" ANSIBLE_REMOTE_TEMP="$work/ansible-tmp" \
  ANSIBLE_HOME="$work/ansible-home" ANSIBLE_DEPRECATION_WARNINGS=0
play() {  # output file, ports (JSON list), extra ansible-playbook arguments...
  local out=$1 ports=$2; shift 2
  local status=0
  ansible-playbook -i "$work/inventory.ini" "$example/apply_profile.yml" \
    -e "tessaly_cli=$cli" -e "profile_src=$example/shop.toml" \
    -e "profile_dest=$work/etc/profile.toml" -e "{\"printer_ports\": $ports}" \
    "$@" >"$work/$out" 2>&1 || status=$?
  echo "$status"
}
mkdir -p "$work/etc"
two="[\"$work/r3a\", \"$work/r3b\"]"

# Check mode: the profile is not copied and the printers are only read.
[ "$(play check.out "$two" --check)" = 0 ] || fail "check mode failed: $(cat "$work/check.out")"
grep -q "changed=2" "$work/check.out" || fail "check mode should report changes: $(cat "$work/check.out")"
[ ! -e "$work/etc/profile.toml" ] || fail "check mode copied the profile"

[ "$(play first.out "$two")" = 0 ] || fail "first run failed: $(cat "$work/first.out")"
grep -q "changed=2" "$work/first.out" || fail "first run should change: $(cat "$work/first.out")"
grep -q "r3a: changed" "$work/first.out" || fail "r3a not changed: $(cat "$work/first.out")"
grep -q "r3b: changed" "$work/first.out" || fail "r3b not changed: $(cat "$work/first.out")"
cmp -s "$work/etc/profile.toml" "$example/shop.toml" || fail "the profile was not copied"

[ "$(play second.out "$two")" = 0 ] || fail "second run failed: $(cat "$work/second.out")"
grep -q "changed=0" "$work/second.out" || fail "second run should change nothing: $(cat "$work/second.out")"
grep -q "r3a: unchanged" "$work/second.out" || fail "r3a: $(cat "$work/second.out")"

# Both printers really hold the profile's code page now (PC865: switch 2 bits 4 and 6).
for p in r3a r3b; do
  "$cli" --port "$work/$p" get-status --json >"$work/$p.json" || fail "get-status $p"
  grep -q '"index": 5' "$work/$p.json" || fail "$p does not hold code page 5: $(cat "$work/$p.json")"
done

status=$(play broken.out "[\"$work/r3c\"]")
[ "$status" != 0 ] || fail "a printer that dropped a write must fail the play: $(cat "$work/broken.out")"
grep -q "did not take" "$work/broken.out" || fail "the failure should say why: $(cat "$work/broken.out")"
grep -q "failed=1" "$work/broken.out" || fail "expected one failed host: $(cat "$work/broken.out")"
echo "Ansible example: check mode, changed, unchanged and a failing printer as expected"
