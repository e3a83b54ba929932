#!/usr/bin/env bash
# Runs every libFuzzer target in BUILD_DIR for SECONDS each.
#
#   scripts/fuzz-all.sh BUILD_DIR SECONDS
#
# Each target NAME_fuzz starts from a temporary copy of fuzz/corpus/NAME/ so
# the seeds in the tree stay as they are. Crash, leak and timeout inputs are
# kept in BUILD_DIR/fuzz-artifacts/NAME/; keep a real one as a named
# reproducer in fuzz/corpus/NAME/. Exits 1 when any target failed.
set -euo pipefail

if [ $# -ne 2 ] || ! [[ "$2" =~ ^[0-9]+$ ]]; then
  echo "usage: $0 BUILD_DIR SECONDS" >&2
  exit 2
fi
build=$1
seconds=$2
root=$(cd "$(dirname "$0")/.." && pwd)

shopt -s nullglob
targets=()
for bin in "$build"/*_fuzz; do
  [ -f "$bin" ] && [ -x "$bin" ] && targets+=("$bin")
done
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz-all: no *_fuzz binaries in $build (configure with -DLKWORD_BUILD_FUZZ=ON)" >&2
  exit 2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failed=()
for bin in "${targets[@]}"; do
  name=$(basename "$bin" _fuzz)
  corpus="$work/$name"
  artifacts="$build/fuzz-artifacts/$name"
  mkdir -p "$corpus" "$artifacts"
  if [ -d "$root/fuzz/corpus/$name" ]; then
    cp -R "$root/fuzz/corpus/$name/." "$corpus/"
  fi
  # Keywords of the format where the target reads one.
  dict=()
  case "$name" in
    pdf*) dict=(-dict="$root/fuzz/pdf.dict") ;;
    xml | docx | odf | fb2 | epub) dict=(-dict="$root/fuzz/xml.dict") ;;
  esac
  echo "== $name: ${seconds}s"
  if "$bin" -max_total_time="$seconds" -max_len=65536 -timeout=25 -print_final_stats=1 "${dict[@]}" \
      -artifact_prefix="$artifacts/" "$corpus" >"$work/$name.log" 2>&1; then
    grep -E '^stat::number_of_executed_units' "$work/$name.log" | sed "s/^/   $name /" || true
  else
    failed+=("$name")
    tail -n 40 "$work/$name.log"
    echo "== $name FAILED; inputs kept in $artifacts"
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz-all: failures in: ${failed[*]}"
  exit 1
fi
echo "fuzz-all: ${#targets[@]} target(s) clean"
