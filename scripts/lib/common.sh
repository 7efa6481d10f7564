# shellcheck shell=bash
# Sourced from the top of the tree by the scripts that build (run, test, bench, fuzz-library).
#
# Who builds. A clone and its build folders belong to the one who made the clone: only installing packages
# needs root (scripts/setup-deps asks sudo for that step alone). Root builds in a clone of its own (CI, a
# container) as before; started as root in somebody's clone (sudo scripts/test), a script installs what
# is missing and then goes on as the clone's owner, so that nothing in the clone becomes root's.

# The number of parallel jobs: CMAKE_BUILD_PARALLEL_LEVEL when set (cmake --build reads it too), else one
# per core.
build_jobs() {
  local jobs=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
  if ! [[ $jobs =~ ^[1-9][0-9]{0,3}$ ]]; then
    echo "scripts/$(basename "$0"): CMAKE_BUILD_PARALLEL_LEVEL must be a number of jobs, not \"$jobs\"" >&2
    return 2
  fi
  echo "$jobs"
}

# The user whose clone this is.
clone_owner() { stat -c %U .; }

# As root in another user's clone: runs the calling script again as that user, with the same arguments,
# and does not return. Otherwise returns at once. Root's session (its runtime folder and bus) stays behind.
continue_as_owner() {  # <script args...>
  local owner
  owner=$(clone_owner)
  if [ "$(id -u)" -ne 0 ] || [ "$owner" = root ]; then
    return 0
  fi
  echo "scripts/$(basename "$0"): this clone belongs to $owner: going on as $owner"
  exec runuser -u "$owner" -- env -u XDG_RUNTIME_DIR -u DBUS_SESSION_BUS_ADDRESS \
    bash "scripts/$(basename "$0")" "$@"
}

# Stops, with the command that mends it, where the build would fail on files the user cannot replace: a
# clone that is not theirs, or build folders an earlier run left to root (sudo scripts/run, before the
# scripts went back to the clone's owner).
require_own_build() {
  local me script foreign
  [ "$(id -u)" -ne 0 ] || return 0
  me=$(id -un)
  script=scripts/$(basename "$0")
  if [ ! -w . ]; then
    echo "$script: $PWD belongs to $(clone_owner), and you ($me) cannot build in it." >&2
    echo "  Clone Quorvel as yourself, or take this clone over with:  sudo chown -R $me: $PWD" >&2
    return 1
  fi
  [ -e build ] || return 0
  foreign=$(find build ! -user "$(id -u)" -print -quit 2>/dev/null || true)
  if [ -n "$foreign" ]; then
    echo "$script: $PWD/$foreign belongs to $(stat -c %U "$foreign"), not to you ($me): an earlier run" \
      "as $(stat -c %U "$foreign") left it. The build folders must be yours; give them back with:" >&2
    echo "    sudo chown -R $me: $PWD/build" >&2
    return 1
  fi
}
