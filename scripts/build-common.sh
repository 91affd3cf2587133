# Shared by the cross-build scripts (scripts/build-windows.sh,
# scripts/build-wasm.sh); sourced, with NAME set to the script's name:
#   build_options DIR "$@"   reads --test, --build-dir DIR (DIR by default)
#                            and --jobs N into run_tests, build_dir, jobs;
#                            -h prints the script's opening comment;
#   need_tools HINT TOOL...  fails with HINT unless every TOOL is on PATH;
#   phase WHAT               prints how long WHAT took since the last phase.
need_tools() {
  local hint=$1 tool
  shift
  for tool in "$@"; do
    if ! command -v "$tool" > /dev/null; then
      echo "$NAME: $tool is missing; $hint" >&2
      exit 1
    fi
  done
}

phase_start=$SECONDS
phase() {
  echo "$NAME: $1 took $((SECONDS - phase_start)) s"
  phase_start=$SECONDS
}

build_options() {
  run_tests=0
  build_dir=$1
  jobs=2
  shift
  while [ "$#" -gt 0 ]; do
    case "$1" in
      --test) run_tests=1 ;;
      --build-dir) shift; build_dir=$1 ;;
      --jobs) shift; jobs=$1 ;;
      -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d'; exit 0 ;;
      *) echo "$NAME: unknown option $1" >&2; exit 2 ;;
    esac
    shift
  done
}
