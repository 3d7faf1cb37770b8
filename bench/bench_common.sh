# Shared by the benchmark scripts (sourced, not run): the built tools a script needs and the
# folder its generated inputs and stores go to.

# bench_require_tools BIN TOOL...: exits with 2, naming the targets to build, when a tool is
# missing from BIN.
bench_require_tools() {
  local bin=$1
  shift
  local tool
  for tool in "$@"; do
    if [ ! -x "$bin/$tool" ]; then
      echo "missing $bin/$tool: build the targets $*" >&2
      exit 2
    fi
  done
}

# bench_scratch FOLDER PREFIX: prints the scratch folder's absolute path: FOLDER (made when
# missing) when given, else a new folder /tmp/PREFIX.XXXXXX.
bench_scratch() {
  if [ -n "$1" ]; then
    mkdir -p "$1"
    (cd "$1" && pwd)
  else
    mktemp -d "/tmp/$2.XXXXXX"
  fi
}
