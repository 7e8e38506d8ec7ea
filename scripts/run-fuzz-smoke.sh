#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a short while: they
# keep building, and no input found within that time crashes, hangs or overflows
# the parsers of hexadecimal text, status files, settings profiles, printer
# replies, the virtual printer or the journal of paused print queues. For a
# longer hunt run a target by hand, for example
#   build/fuzz/fuzz/status_reply_fuzz -max_total_time=600 build/fuzz/corpus/status_reply_fuzz
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-20}"
targets=(hex_text_fuzz status_file_fuzz status_reply_fuzz profile_fuzz r3_engine_fuzz journal_fuzz)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${targets[@]}"

mkdir -p build/fuzz/artifacts
for target in "${targets[@]}"; do
  binary="$(find build/fuzz -name "$target" -type f -perm -u+x | head -n 1)"
  corpus="build/fuzz/corpus/$target"
  log="build/fuzz/artifacts/$target.log"
  mkdir -p "$corpus"
  if "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix=build/fuzz/artifacts/ "$corpus" >"$log" 2>&1; then
    echo "fuzz $target: $(grep -o 'Done [0-9]* runs' "$log" || echo done), no finding"
  else
    echo "fuzz $target: FINDING (input saved under build/fuzz/artifacts)"
    tail -n 60 "$log"
    exit 1
  fi
done
