#!/usr/bin/env bash
# Proves the README's set-up on a new user's Debian 12. Makes a minimal root
# (debootstrap minbase with make, git, ca-certificates and sudo, nothing
# else), copies a clean checkout of this repository's HEAD into it, and runs
# there, as root:
#   1. make run, offscreen: the window must open and still be open after
#      WINDOW_SECONDS, and neither Node.js, npm, Emscripten nor chromium may
#      have been installed on the way;
#   2. make test: every test must pass;
#   3. make run again, in the folder make test built: the window must open
#      within START_SECONDS and still be open WINDOW_SECONDS later;
#   4. make package, and apt-get install of python3-boolconv's .deb: Debian's
#      python3 must then import boolconv from /usr/lib/python3/dist-packages.
#
#   sudo tests/fresh_debian.sh [--keep]
#
#   --keep   leave the root in build-fresh/root for a look inside
#            (sudo chroot build-fresh/root); a later run replaces it
#   environment: BOOLCONV_FRESH_CACHE, where the bare root is kept between
#   runs (default /var/cache/boolconv); START_SECONDS (default 30);
#   WINDOW_SECONDS (default 5)
#
# The root uses the Debian mirrors of the host's apt sources and trusts the
# certificates the host trusts, so downloads behave as on the host. Its
# mounts and processes live in namespaces of their own, which end with the
# run however it ends (Ctrl+C, kill, or the script's own death). Each step's
# output is in build-fresh/logs/; a failing step's last lines are printed and
# the script exits 1. One run at a time per checkout.
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
start_seconds=${START_SECONDS:-30}
window_seconds=${WINDOW_SECONDS:-5}

Fail() {
  echo "fresh-debian: $*" >&2
  exit 1
}

for limit in "$start_seconds" "$window_seconds"; do
  [[ $limit =~ ^[1-9][0-9]*$ ]] || Fail "START_SECONDS and WINDOW_SECONDS take whole seconds"
done

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
      local status=0
      wait "$make_pid" || status=$?
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
    awk '\$1 == \"ii\" { print \$2 }'; exit 0") || return
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
  RunWindow "$start_seconds" "$1"
}
# The Python package as a user installs it: make package, apt-get install
# of its .deb, then Debian's python3 imports it from anywhere.
StepPythonPackage() {
  InRoot sh -c 'cd /root/boolconv && make package &&
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ./build/python3-boolconv_*.deb &&
    cd / && python3 -c "import boolconv; print(boolconv.convert(\"a b or c\"))" &&
    test "$(python3 -c "import boolconv; print(boolconv.__file__)")" = \
      /usr/lib/python3/dist-packages/boolconv/__init__.py &&
    echo "a b or c" | python3 -m boolconv' >"$1" 2>&1
}

Inside() {
  (($$ == 1)) || Fail "--inside is how the script starts its own steps; run it without"
  # The shell is the first process of its PID namespace, which receives no
  # signal it does not handle.
  trap 'exit 130' INT
  trap 'exit 143' TERM
  MountRoot
  Step make-run-first "make run (offscreen) on the bare root" StepMakeRunFirst
  Step make-test "make test" StepMakeTest
  Step make-run-again "make run (offscreen) in the folder make test built" StepMakeRunAgain
  Step python-package "make package, then import boolconv from python3-boolconv's .deb" \
    StepPythonPackage
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
for command in unshare setpriv chroot pgrep git tar flock apt-get; do
  command -v "$command" >/dev/null || Fail "$command is missing on this machine"
done

# Prints "<uri> <suite> <component>" for each Debian 12 index of the host's
# apt sources, in apt's own order, as apt itself reads them (one-line and
# deb822 files, disabled entries, options). Other publishers' repositories
# are left out: their keys are not in the root.
HostDebianSources() {
  apt-get indextargets --format '$(ORIGIN) $(TARGET_OF) $(CREATED_BY) $(REPO_URI) $(RELEASE) $(COMPONENT)' |
    awk -v suite="$kSuite" '$1 == "Debian" && $2 == "deb" && $3 == "Packages" &&
      ($5 == suite || index($5, suite "-") == 1) && !seen[$4 " " $5 " " $6]++ { print $4, $5, $6 }'
}

sources=$(HostDebianSources)
if [[ -z $sources ]]; then
  # apt names an index's publisher only once it has fetched the index.
  apt-get update -qq
  sources=$(HostDebianSources)
fi
mirror=$(awk -v suite="$kSuite" '$2 == suite { print $1; exit }' <<<"$sources")
[[ -n $mirror ]] || Fail "no Debian '$kSuite' entry in the host's apt sources to take the mirror from"

if ! command -v debootstrap >/dev/null; then
  echo "Installing debootstrap on the host"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null
fi

# The bare root is cached as a tarball named for what went into it.
key=$(echo "$kSuite minbase $kBarePackages $mirror $(debootstrap --version)" | sha256sum | cut -c1-12)
bare=$cache/debian-$kSuite-minbase-$key.tar
mkdir -p "$cache" "$work"
exec 9>"$work/.lock"
flock -n 9 || Fail "another run is using $work"

# Removes a folder of the run's. Its mounts live only in the run's namespace,
# but a mount made by hand in a kept root would let rm reach beyond it
# (--one-file-system does not stop at a bind mount of the same file system),
# so any mount below it stops the run instead.
RemoveTree() {
  local tree
  for tree in "$@"; do
    if awk -v tree="$tree" '$5 == tree || index($5, tree "/") == 1 { found = 1 } END { exit !found }' \
      /proc/self/mountinfo; then
      Fail "something is mounted in $tree; unmount it (findmnt -R $tree) and run again"
    fi
    rm -rf --one-file-system "$tree"
  done
}

# Removes the root, unless --keep.
Cleanup() {
  local status=$?
  trap - EXIT
  if ((keep == 0)); then RemoveTree "$root"; fi
  RemoveTree "$work/bare.tmp"
  exit "$status"
}
trap Cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

started=$SECONDS
RemoveTree "$root" "$logs"
mkdir -p "$logs"
# One run makes the bare root; another waits for it rather than making its own.
exec 8>"$cache/.lock"
flock 8
if [[ ! -f $bare ]]; then
  echo "== Making the bare root with debootstrap from $mirror (cached in $bare)"
  RemoveTree "$work/bare.tmp"
  # debootstrap mounts /proc and /sys in the root it makes; in a mount
  # namespace of its own those mounts cannot outlive it.
  unshare --mount debootstrap --variant=minbase --include="$kBarePackages" \
    "$kSuite" "$work/bare.tmp" "$mirror" >"$logs/debootstrap.log" 2>&1 || {
    tail -n 40 "$logs/debootstrap.log" >&2
    Fail "debootstrap failed; its log is $logs/debootstrap.log"
  }
  rm -rf "$work/bare.tmp/var/cache/apt/archives/"*.deb
  partial=$(mktemp "$bare.XXXXXX")
  tar --numeric-owner -C "$work/bare.tmp" -cf "$partial" .
  mv "$partial" "$bare"
  RemoveTree "$work/bare.tmp"
fi
flock -u 8

mkdir -p "$root"
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
chroot "$root" update-ca-certificates >"$logs/certificates.log" 2>&1 ||
  Fail "update-ca-certificates failed in the root; see $logs/certificates.log"

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
# the run (a window, a browser) ends with it. unshare keeps the namespaces'
# first process from being signalled, so a signal to this script kills unshare,
# whose end kills that process, and with it the namespaces; so does this
# script's own end, however it comes.
setpriv --pdeathsig KILL unshare --mount --pid --fork --kill-child --mount-proc \
  "$BASH" "$0" --inside &
inside=$!
trap 'kill -KILL "$inside"; wait "$inside" || true; exit 130' INT
trap 'kill -KILL "$inside"; wait "$inside" || true; exit 143' TERM
wait "$inside"
echo "fresh-debian: the README's set-up works on a fresh Debian 12 ($((SECONDS - started)) s in all)"
