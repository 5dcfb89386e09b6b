#!/usr/bin/env bash
# Proves the README's set-up on a new user's Debian 12. Makes a minimal root
# (debootstrap minbase with make, git, ca-certificates and sudo, nothing
# else), copies a clean checkout of this repository's HEAD into it, and runs
# there, as root:
#   1. make run, offscreen: the window must open and still be open after
#      WINDOW_SECONDS, and neither Node.js, npm, Emscripten nor chromium may
#      have been installed on the way;
#   2. make test: every test must pass;
#   3. make run again, in the folder make test built, under a limit of
#      WINDOW_SECONDS: the window must still be open when the limit ends it.
#
#   sudo tests/fresh_debian.sh [--keep]
#
#   --keep   leave the root in build-fresh/root for a look inside
#            (sudo chroot build-fresh/root); a later run replaces it
#   environment: BOOLCONV_FRESH_CACHE, where the bare root is kept between
#   runs (default /var/cache/boolconv); WINDOW_SECONDS (default 5)
#
# The root uses the Debian mirror of the host's apt sources and trusts the
# certificates the host trusts, so downloads behave as on the host. Its
# mounts and processes live in namespaces of their own, which end with the
# run however it ends. Each step's output is in build-fresh/logs/; a failing
# step's last lines are printed and the script exits 1.
set -euo pipefail

readonly kSuite=bookworm
readonly kBarePackages=make,git,ca-certificates,sudo
readonly kRootPath=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
# What the window's path must not bring in: the page's tools and browser.
readonly kPageCommands="node nodejs npm emcc chromium"
readonly kPagePackages="nodejs npm emscripten chromium"
# The window's first start waits for its build; this bounds a build that hangs.
readonly kFirstStartLimitSeconds=3600

repo=$(cd "$(dirname "$0")/.." && pwd)
work=$repo/build-fresh
root=$work/root
logs=$work/logs
cache=${BOOLCONV_FRESH_CACHE:-/var/cache/boolconv}
window_seconds=${WINDOW_SECONDS:-5}

Fail() {
  echo "fresh-debian: $*" >&2
  exit 1
}

# Runs a command inside the root, as root, with the environment a login on a
# new machine has rather than the caller's. CI=true makes the browser test
# fail, not skip, when chromium cannot start.
InRoot() {
  local proxies=()
  local name
  for name in http_proxy https_proxy no_proxy HTTP_PROXY HTTPS_PROXY NO_PROXY; do
    [[ -n ${!name:-} ]] && proxies+=("$name=${!name}")
  done
  chroot "$root" /usr/bin/env -i HOME=/root PATH=$kRootPath LANG=C.UTF-8 CI=true \
    "${proxies[@]}" "$@"
}

# Prints "<packages> <installed MB> <downloaded MB>": what dpkg has installed
# in the root, and the size of the packages apt has fetched into it.
PackageTotals() {
  local downloaded
  downloaded=$(du -sm "$root/var/cache/apt/archives" | cut -f1)
  InRoot dpkg-query -W -f='${db:Status-Abbrev} ${Installed-Size}\n' |
    awk -v downloaded="$downloaded" '$1 == "ii" { count++; kib += $2 }
      END { printf "%d %d %d\n", count, kib / 1024, downloaded }'
}

# --- Inside the namespaces: the steps ---------------------------------------

# Mounts what programs in the root expect. The mount namespace is private, so
# these mounts are never seen outside and vanish when the run ends.
MountRoot() {
  mount -t proc proc "$root/proc"
  mount -t sysfs -o ro sysfs "$root/sys"
  mount -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts"
  mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
}

# Runs `make run` offscreen in the root. The window must appear within
# `start_limit` seconds and still be running WINDOW_SECONDS later; then it
# and make are stopped. Output goes to the log named by `log`.
RunWindow() {
  local start_limit=$1 log=$2
  InRoot sh -c 'cd /root/boolconv && QT_QPA_PLATFORM=offscreen exec make run' >"$log" 2>&1 &
  local make_pid=$! waited=0
  until pgrep -x boolconv >/dev/null; do
    if ! kill -0 "$make_pid" 2>/dev/null; then
      wait "$make_pid" && status=0 || status=$?
      echo "make run ended (exit $status) before the window opened" >>"$log"
      return 1
    fi
    if ((waited >= start_limit)); then
      echo "the window did not open within $start_limit s" >>"$log"
      return 1
    fi
    sleep 1
    waited=$((waited + 1))
  done
  sleep "$window_seconds"
  local open=0
  pgrep -x boolconv >/dev/null || open=$?
  pkill -x boolconv || true
  wait "$make_pid" || true
  if ((open != 0)); then
    echo "the window closed within $window_seconds s of opening" >>"$log"
    return 1
  fi
  echo "the window was open after $window_seconds s" >>"$log"
}

# Fails when the window's path brought in the page's tools or browser.
CheckNothingOfThePage() {
  local found
  found=$(InRoot sh -c "for c in $kPageCommands; do command -v \$c; done; \
    dpkg-query -W -f='\${db:Status-Abbrev} \${Package}\n' $kPagePackages 2>/dev/null |
    awk '\$1 == \"ii\" { print \$2 }'" || true)
  if [[ -n $found ]]; then
    echo "make run installed what only the page needs:" $found
    return 1
  fi
  echo "no Node.js, npm, Emscripten or chromium in the root"
}

# Runs one step with its output in logs/<name>.log; on failure prints the
# log's last lines and exits.
Step() {
  local name=$1 title=$2
  shift 2
  local log=$logs/$name.log started=$SECONDS status=0
  local before after
  read -ra before <<<"$(PackageTotals)"
  echo "== $title"
  "$@" "$log" || status=$?
  if ((status != 0)); then
    echo "fresh-debian: step failed: $title (exit $status); the last lines of $log:" >&2
    tail -n 40 "$log" >&2
    exit 1
  fi
  read -ra after <<<"$(PackageTotals)"
  echo "   passed in $((SECONDS - started)) s; installed $((after[0] - before[0])) packages" \
    "($((after[1] - before[1])) MB, $((after[2] - before[2])) MB downloaded)"
}

StepMakeRunFirst() {
  RunWindow "$kFirstStartLimitSeconds" "$1" && CheckNothingOfThePage >>"$1" 2>&1
}
StepMakeTest() {
  InRoot make -C /root/boolconv test >"$1" 2>&1
}
StepMakeRunAgain() {
  RunWindow "$window_seconds" "$1"
}

Inside() {
  # The shell is the first process of its PID namespace, which receives no
  # signal it does not handle.
  trap 'exit 130' INT
  trap 'exit 143' TERM
  MountRoot
  Step make-run-first "make run (offscreen) on the bare root" StepMakeRunFirst
  Step make-test "make test" StepMakeTest
  Step make-run-again "make run (offscreen) in the folder make test built" StepMakeRunAgain
}

if [[ ${1:-} == --inside ]]; then
  Inside
  exit 0
fi

# --- Outside: the bare root, a copy of it, and the checkout ------------------

keep=0
case ${1:-} in
  --keep) keep=1 ;;
  "") ;;
  -h | --help)
    sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'
    exit 0
    ;;
  *) Fail "unknown argument '$1' (try --help)" ;;
esac
((EUID == 0)) || Fail "debootstrap and chroot need root: run it with sudo"
for command in unshare chroot pgrep git tar; do
  command -v "$command" >/dev/null || Fail "$command is missing on this machine"
done

# Prints "<uri> <suite> <components...>" for each Debian 12 entry of the
# host's apt sources, one-line and deb822 alike.
HostDebianSources() {
  local list
  for list in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -f $list ]] || continue
    awk '$1 == "deb" { sub(/ \[[^]]*\]/, ""); $1 = ""; sub(/^ /, ""); print }' "$list"
  done
  for list in /etc/apt/sources.list.d/*.sources; do
    [[ -f $list ]] || continue
    awk 'function flush() {
           if (types ~ /(^| )deb( |$)/ && enabled != "no")
             for (u = 1; u <= nu; u++) for (s = 1; s <= ns; s++) print uris[u], suites[s], comps
           types = ""; enabled = ""; nu = ns = 0; comps = ""
         }
         /^[ \t]*$/ { flush(); next }
         /^#/ { next }
         { key = tolower($1); $1 = ""; sub(/^ /, "") }
         key == "types:" { types = $0 }
         key == "enabled:" { enabled = tolower($0) }
         key == "uris:" { nu = split($0, uris, " ") }
         key == "suites:" { ns = split($0, suites, " ") }
         key == "components:" { comps = $0 }
         END { flush() }' "$list"
  done | awk -v suite="$kSuite" '$2 == suite || index($2, suite "-") == 1' | sort -u
}

sources=$(HostDebianSources)
mirror=$(awk -v suite="$kSuite" '$2 == suite { print $1; exit }' <<<"$sources")
[[ -n $mirror ]] || Fail "no '$kSuite' entry in the host's apt sources to take the mirror from"

if ! command -v debootstrap >/dev/null; then
  echo "Installing debootstrap on the host"
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null
fi

# The bare root is cached as a tarball named for what went into it.
key=$(echo "$kSuite minbase $kBarePackages $mirror $(debootstrap --version)" | sha256sum | cut -c1-12)
bare=$cache/debian-$kSuite-minbase-$key.tar
mkdir -p "$cache" "$work"

# Removes the root, unless --keep. Nothing is mounted in it outside the
# namespaces, and --one-file-system keeps rm out of anything that still is.
Cleanup() {
  local status=$?
  if ((keep == 0)) && [[ -d $root ]]; then rm -rf --one-file-system "$root"; fi
  rm -rf --one-file-system "$work/bare.tmp"
  exit "$status"
}
trap Cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

started=$SECONDS
if [[ ! -f $bare ]]; then
  echo "== Making the bare root with debootstrap from $mirror (cached in $bare)"
  rm -rf --one-file-system "$work/bare.tmp"
  mkdir -p "$logs"
  # debootstrap mounts /proc and /sys in the root it makes; in a mount
  # namespace of its own those mounts cannot outlive it.
  unshare --mount debootstrap --variant=minbase --include="$kBarePackages" \
    "$kSuite" "$work/bare.tmp" "$mirror" >"$logs/debootstrap.log" 2>&1 || {
    tail -n 40 "$logs/debootstrap.log" >&2
    Fail "debootstrap failed; its log is $logs/debootstrap.log"
  }
  rm -rf "$work/bare.tmp/var/cache/apt/archives/"*.deb
  tar --numeric-owner -C "$work/bare.tmp" -cf "$bare.tmp" .
  mv "$bare.tmp" "$bare"
  rm -rf --one-file-system "$work/bare.tmp"
fi

rm -rf --one-file-system "$root" "$logs"
mkdir -p "$root" "$logs"
tar --numeric-owner -C "$root" -xpf "$bare"
[[ -c $root/dev/null ]] || Fail "the bare root has no /dev/null; remove $bare and run again"

# apt: the host's Debian sources, and its proxy where it has one.
awk '{ print "deb", $0 }' <<<"$sources" >"$root/etc/apt/sources.list"
apt-config dump | grep -E '^Acquire::(https?|ftp)::Proxy ' >"$root/etc/apt/apt.conf.d/90host-proxy" ||
  rm -f "$root/etc/apt/apt.conf.d/90host-proxy"
# Name resolution as on the host.
cp -L /etc/resolv.conf "$root/etc/resolv.conf"
grep -qs localhost "$root/etc/hosts" || printf '127.0.0.1\tlocalhost\n::1\tlocalhost\n' >"$root/etc/hosts"
# Every certificate the host trusts, one file each, where update-ca-certificates
# keeps local ones, so that a later run of it in the root keeps them too.
mkdir -p "$root/usr/local/share/ca-certificates/host"
awk -v folder="$root/usr/local/share/ca-certificates/host" '
  /-----BEGIN CERTIFICATE-----/ { file = sprintf("%s/%04d.crt", folder, ++count) }
  file { print > file }
  /-----END CERTIFICATE-----/ { close(file); file = "" }' /etc/ssl/certs/ca-certificates.crt
chroot "$root" update-ca-certificates >/dev/null 2>&1 || Fail "update-ca-certificates failed in the root"

# A clean checkout of HEAD, as a user's clone would be.
head=$(git -C "$repo" rev-parse HEAD)
if [[ -n $(git -C "$repo" status --porcelain --untracked-files=no) ]]; then
  echo "Note: checks commit ${head:0:12}; uncommitted changes are not part of the check"
fi
git clone --quiet --no-local "$repo" "$root/root/boolconv"
git -C "$root/root/boolconv" checkout --quiet --detach "$head"
read -ra totals <<<"$(PackageTotals)"
echo "== Root ready in $((SECONDS - started)) s: ${totals[0]} packages (${totals[1]} MB)," \
  "commit ${head:0:12}"

# The steps run in new mount and PID namespaces: every mount and process of
# the run (a window, a browser) ends with it, even when it is killed.
unshare --mount --pid --fork --kill-child --mount-proc "$0" --inside
echo "fresh-debian: the README's set-up works on a fresh Debian 12 ($((SECONDS - started)) s in all)"
