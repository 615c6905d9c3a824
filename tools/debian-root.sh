# Private Debian roots for what the host cannot run itself (the 32-bit wine where the host
# cannot install it; our own packages, installed and run): made with mmdebstrap from the Debian
# mirror the host's apt already uses, and entered in a private mount and PID namespace, so that
# the host never sees one of their mounts and nothing started inside outlives the command.
# Sourced by the scripts in tools/, which set -euo pipefail. What needs root (unshare, mount,
# chroot, removing a tree that root made) runs through sudo when the caller is not root; the
# command entered runs as the caller, unless --root says otherwise.
#
#   tr_root_make NAME ARCHS PACKAGE...      make build-roots/NAME/root, or reuse it while it
#                                           was made from the same list, mirror and suite
#   tr_root_make_background NAME ARCHS PACKAGE...  the same behind the caller's back, logged;
#   tr_root_wait NAME                       then wait for it (tr_root_stop_background NAME
#                                           ends it early)
#   tr_root_enter NAME [--bind DIR]... [--scratch] [--root] -- COMMAND...   run COMMAND
#                                           inside, from the current folder, with /proc, /dev,
#                                           /dev/pts, /dev/shm and the repository at their own
#                                           paths, a /tmp of its own and HOME in it, as the
#                                           caller (--root: as root); with --scratch, every
#                                           change the command makes to the root vanishes
#                                           with it
#   tr_root_remove NAME                     remove it, refusing while anything is mounted
#                                           beneath it or running in it
#
# A failing function returns 1 with its reason, one line, in TR_ROOT_ERROR.

# The repository, mounted inside every root at its own path: the build folders hold absolute
# paths to sources, images and native tools.
TR_ROOT_REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# This file, for the shells that run its functions in a session or namespace of their own.
TR_ROOT_SCRIPT=$TR_ROOT_REPO/tools/$(basename "${BASH_SOURCE[0]}")
# One folder per root: the tree (root/), what it was made from (stamp), mmdebstrap's log
# (mmdebstrap.log), and of a background make its output (make.log), process (make.pid) and
# exit status (make.status). Ignored by git.
TR_ROOT_BASE=${TR_ROOT_BASE:-$TR_ROOT_REPO/build-roots}
# Documentation, manual pages and translations: nothing in a test root reads them.
TR_ROOT_DPKG_OPTIONS=(--dpkgopt='path-exclude=/usr/share/doc/*'
                      --dpkgopt='path-exclude=/usr/share/man/*'
                      --dpkgopt='path-exclude=/usr/share/info/*'
                      --dpkgopt='path-exclude=/usr/share/locale/*')
TR_ROOT_ERROR=
# Runs what needs root: sudo, unless the caller is root.
TR_ROOT_SUDO=()
if [ "$(id -u)" -ne 0 ]; then
    TR_ROOT_SUDO=(sudo)
fi

tr_root_folder() { echo "$TR_ROOT_BASE/$1"; }
# The root's tree, the folder that is entered.
tr_root_dir() { echo "$TR_ROOT_BASE/$1/root"; }

# The release suite of the host, its Debian codename (bookworm).
tr_root_suite() {
    (. /etc/os-release && echo "${VERSION_CODENAME:-}")
}

# Prints, one a line, the URIs of the host's apt sources that are a Debian mirror of the
# release suite $1: binary sources of exactly that suite with the main component, signed by
# Debian's archive keys or by nothing named. The -security and -updates suites are left out
# (their versions need not exist for both architectures yet), and so is any third-party
# repository. Both forms: one-line *.list and deb822 *.sources.
tr_root_host_mirrors() {
    local suite=$1 file
    shopt -s nullglob
    local lists=(/etc/apt/sources.list /etc/apt/sources.list.d/*.list)
    local deb822=(/etc/apt/sources.list.d/*.sources)
    shopt -u nullglob
    for file in "${lists[@]}"; do
        [ -r "$file" ] || continue
        awk -v suite="$suite" '
            { sub(/#.*/, "") }
            $1 != "deb" { next }
            {
                options = ""
                if ($2 ~ /^\[/) {
                    while ($2 !~ /\]$/ && NF > 2) { options = options " " $2; $2 = ""; $0 = $0 }
                    options = options " " $2; $2 = ""; $0 = $0
                }
                if ($3 != suite) next
                main = 0
                for (i = 4; i <= NF; i++) if ($i == "main") main = 1
                if (!main) next
                if (options ~ /signed-by=/ && options !~ /signed-by=[^ \]]*debian-archive-/) next
                print $2
            }' "$file"
    done
    for file in "${deb822[@]}"; do
        [ -r "$file" ] || continue
        awk -v suite="$suite" '
            function flush(   n, i, uri, s, c, ok, main) {
                if (types ~ /(^| )deb( |$)/ && tolower(enabled) != "no" \
                    && (signed == "" || signed ~ /^[^ ]*debian-archive-[^ ]*$/)) {
                    ok = 0; main = 0
                    n = split(suites, s, " ")
                    for (i = 1; i <= n; i++) if (s[i] == suite) ok = 1
                    n = split(components, c, " ")
                    for (i = 1; i <= n; i++) if (c[i] == "main") main = 1
                    if (ok && main) {
                        n = split(uris, s, " ")
                        for (i = 1; i <= n; i++) print s[i]
                    }
                }
                types = uris = suites = components = signed = enabled = ""
                field = ""
            }
            /^#/ { next }
            /^[ \t]*$/ { flush(); next }
            /^[ \t]/ { if (field == "signed-by") signed = signed " " $0; next }
            {
                field = tolower(substr($0, 1, index($0, ":") - 1))
                value = substr($0, index($0, ":") + 1)
                gsub(/^[ \t]+|[ \t]+$/, "", value)
                gsub(/[ \t]+/, " ", value)
                if (field == "types") types = value
                else if (field == "uris") uris = value
                else if (field == "suites") suites = value
                else if (field == "components") components = value
                else if (field == "signed-by") signed = value
                else if (field == "enabled") enabled = value
            }
            END { flush() }' "$file"
    done | awk '!seen[$0]++'
}

# What a root of architectures $1 and packages $2... is made from, as its stamp records it.
# Fails when the host names no Debian mirror of its release suite.
tr_root_recipe() {
    local archs=$1 suite mirrors
    shift
    suite=$(tr_root_suite)
    [ -n "$suite" ] || { TR_ROOT_ERROR="no VERSION_CODENAME in /etc/os-release"; return 1; }
    mirrors=$(tr_root_host_mirrors "$suite")
    if [ -z "$mirrors" ]; then
        TR_ROOT_ERROR="the host's apt sources name no Debian mirror of $suite main"
        return 1
    fi
    echo "suite=$suite"
    echo "architectures=$archs"
    echo "mirrors=$(paste -sd' ' <<<"$mirrors")"
    echo "packages=$(printf '%s\n' "$@" | sort -u | tr '\n' ' ' | sed 's/ $//')"
    echo "options=--variant=apt ${TR_ROOT_DPKG_OPTIONS[*]}"
}

# Fails, with the reason, unless this process may make private mount and PID namespaces.
tr_root_check_namespaces() {
    local message
    if ! message=$("${TR_ROOT_SUDO[@]}" unshare --mount --propagation private --pid --fork true \
        2>&1); then
        TR_ROOT_ERROR="cannot make a private mount namespace (unshare: ${message:-failed})"
        return 1
    fi
}

# Makes the root NAME of the architectures $2 (comma-separated, the host's first) with the
# packages $3..., unless its stamp says it was made from the same recipe. mmdebstrap runs in a
# private mount and PID namespace: the mounts it makes in the tree vanish with it, and so does
# any process a package's scripts start, however it ends.
tr_root_make() {
    local name=$1 archs=$2
    shift 2
    local folder recipe
    folder=$(tr_root_folder "$name")
    TR_ROOT_ERROR=
    recipe=$(tr_root_recipe "$archs" "$@") || return 1
    if [ -f "$folder/stamp" ] && [ "$(cat "$folder/stamp")" = "$recipe" ] \
        && [ -d "$folder/root" ]; then
        echo "Reusing the Debian root $folder/root, made from the same recipe"
        return 0
    fi
    command -v mmdebstrap >/dev/null || { TR_ROOT_ERROR="mmdebstrap is not installed"; return 1; }
    tr_root_check_namespaces || return 1
    # Another recipe, or a make that did not finish: start afresh.
    tr_root_remove_tree "$folder/root" && tr_root_remove_tree "$folder/root.new" || return 1
    rm -f "$folder/stamp"
    mkdir -p "$folder"
    local suite mirror sources=()
    suite=$(sed -n 's/^suite=//p' <<<"$recipe")
    for mirror in $(sed -n 's/^mirrors=//p' <<<"$recipe"); do
        sources+=("deb $mirror $suite main")
    done
    echo "Making the Debian root $folder/root ($archs: $*) from ${sources[*]}"
    local start=$SECONDS packages
    packages=$(IFS=,; echo "$*")
    if ! "${TR_ROOT_SUDO[@]}" unshare --mount --propagation private --pid --fork --kill-child \
        --mount-proc \
        mmdebstrap --mode=root --variant=apt --architectures="$archs" --include="$packages" \
        "${TR_ROOT_DPKG_OPTIONS[@]}" "$suite" "$folder/root.new" "${sources[@]}" 2>&1 \
        | tee "$folder/mmdebstrap.log"; then
        TR_ROOT_ERROR="mmdebstrap failed: $(grep -m1 '^E: ' "$folder/mmdebstrap.log" \
            || tail -n 1 "$folder/mmdebstrap.log")"
        return 1
    fi
    mv "$folder/root.new" "$folder/root" && echo "$recipe" >"$folder/stamp" || return 1
    echo "Made the Debian root $folder/root in $((SECONDS - start)) s," \
         "$("${TR_ROOT_SUDO[@]}" du -sh --one-file-system "$folder/root" | cut -f1)"
}

# Runs tr_root_make NAME ... in a session of its own, its output in NAME/make.log and its exit
# status, once it ends, in NAME/make.status; tr_root_wait reads them.
tr_root_make_background() {
    local folder
    folder=$(tr_root_folder "$1")
    mkdir -p "$folder"
    rm -f "$folder/make.status" "$folder/make.pid"
    # A session of its own, so that tr_root_stop_background can end all of it, unshare
    # included; it ignores SIGINT, as every background command of a script does.
    TR_ROOT_BASE=$TR_ROOT_BASE setsid bash -c '
        set -uo pipefail
        source "$1"
        shift
        status=0
        tr_root_make "$@" || status=$?
        [ -z "$TR_ROOT_ERROR" ] || echo "$TR_ROOT_ERROR"
        echo "$status" >"$0/make.status"' \
        "$folder" "$TR_ROOT_SCRIPT" "$@" </dev/null >"$folder/make.log" 2>&1 &
    # With its start time: once it has ended, its number may be another process's.
    echo "$! $(tr_root_process_field "$!" 19)" >"$folder/make.pid"
}

# Field $2 of the process $1's /proc/PID/stat, counted after its name (0: the state, 3: the
# session, 19: the start time), or nothing when it does not exist.
tr_root_process_field() {
    local fields
    read -r -a fields < <(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null) || true
    echo "${fields[$2]:-}"
}

# Whether a background make can run what needs root: it can ask for no password, having no
# terminal.
tr_root_background_allowed() {
    [ ${#TR_ROOT_SUDO[@]} -eq 0 ] || setsid -w sudo -n true </dev/null >/dev/null 2>&1
}

# tr_root_make NAME ... in the foreground, where sudo may ask for a password, leaving its output
# and status where a background make leaves them for tr_root_wait.
tr_root_make_here() {
    local folder status=0
    folder=$(tr_root_folder "$1")
    mkdir -p "$folder"
    rm -f "$folder/make.status" "$folder/make.pid"
    # The reason a failed make gives is the log's last line, as in the background.
    (tr_root_make "$@" || { status=$?; echo "$TR_ROOT_ERROR"; exit "$status"; }) 2>&1 \
        | tee "$folder/make.log" || status=$?
    echo "$status" >"$folder/make.status"
}

# Whether the process $1 runs (a zombie does not).
tr_root_alive() {
    local state
    state=$(tr_root_process_field "$1" 0)
    [ -n "$state" ] && [ "$state" != Z ]
}

# Whether the process $1 runs and is the one that started at $2 (in clock ticks since boot).
tr_root_same_process() {
    [ -n "$2" ] && tr_root_alive "$1" && [ "$(tr_root_process_field "$1" 19)" = "$2" ]
}

# Waits for the background make of the root NAME; fails, with the last line of its log (the
# reason) as TR_ROOT_ERROR, when it did.
tr_root_wait() {
    local folder pid="" start=""
    folder=$(tr_root_folder "$1")
    read -r pid start 2>/dev/null <"$folder/make.pid" || true
    while [ ! -f "$folder/make.status" ] && tr_root_same_process "$pid" "$start"; do
        sleep 1
    done
    if [ "$(cat "$folder/make.status" 2>/dev/null)" = 0 ]; then
        tail -n 1 "$folder/make.log"
        return 0
    fi
    TR_ROOT_ERROR="making the Debian root failed: $(tail -n 1 "$folder/make.log" 2>/dev/null \
        || echo "no log in $folder")"
    return 1
}

# Ends the background make of the root NAME if it still runs (its tree is remade next time):
# every process of its session, unshare and mmdebstrap included. A make that has ended is left
# alone, and so is a process that has taken over its number since.
tr_root_stop_background() {
    local folder pid="" start=""
    folder=$(tr_root_folder "$1")
    read -r pid start 2>/dev/null <"$folder/make.pid" || true
    [ -n "$pid" ] || return 0
    rm -f "$folder/make.pid"
    [ ! -f "$folder/make.status" ] && tr_root_same_process "$pid" "$start" || return 0
    echo "Stopping the unfinished make of the Debian root $folder"
    if [ "$(tr_root_process_field "$pid" 3)" != "$pid" ]; then
        kill -TERM "$pid" 2>/dev/null || true  # setsid has not taken effect yet
        return 0
    fi
    # mmdebstrap and apt end on SIGTERM; unshare waits for its child, and a KILL of unshare
    # ends everything in the namespace it made. They run as root.
    local signal _
    for signal in TERM KILL; do
        "${TR_ROOT_SUDO[@]}" pkill "-$signal" --session "$pid" 2>/dev/null || true
        for _ in $(seq 50); do
            pgrep --session "$pid" >/dev/null || return 0
            sleep 0.2
        done
    done
}

# Fails, with the reason, while something is mounted at or beneath $1 (seen from here) or a
# process has its root in it.
tr_root_check_unused() {
    local tree=$1 mounts proc
    mounts=$(findmnt --list --noheadings --output TARGET \
        | awk -v t="${tree// /\\x20}" '$0 == t || index($0, t "/") == 1')
    if [ -n "$mounts" ]; then
        TR_ROOT_ERROR="still mounted beneath $tree: $(paste -sd' ' <<<"$mounts")"
        return 1
    fi
    # Only root sees where every process has its root.
    proc=$("${TR_ROOT_SUDO[@]}" bash -c 'for proc in /proc/[0-9]*; do
            case $(readlink "$proc/root" 2>/dev/null) in
                "$1" | "$1"/*) echo "${proc#/proc/}"; break ;;
            esac
        done' _ "$tree")
    if [ -n "$proc" ]; then
        TR_ROOT_ERROR="process $proc still runs in $tree"
        return 1
    fi
}

# Removes the tree $1 after tr_root_check_unused, staying on its file system. Root made it.
tr_root_remove_tree() {
    [ -e "$1" ] || return 0
    tr_root_check_unused "$1" || { echo "Not removing $1: $TR_ROOT_ERROR" >&2; return 1; }
    "${TR_ROOT_SUDO[@]}" rm -rf --one-file-system "$1"
}

# Removes the root NAME with all it was made from.
tr_root_remove() {
    local folder
    folder=$(tr_root_folder "$1")
    tr_root_stop_background "$1"
    tr_root_remove_tree "$folder"
}

# Runs COMMAND in the root NAME from the current folder, which must lie in the repository or
# in a --bind folder. The mounts are made in a private mount namespace and the command runs in
# a PID namespace of its own: when it ends, however it ends, whatever it left running is killed
# and every mount vanishes; the host never sees them.
tr_root_enter() {
    local name=$1 binds=() scratch="" user
    user=$(id -u):$(id -g)
    shift
    while [ $# -gt 0 ] && [ "$1" != -- ]; do
        case $1 in
            --bind) binds+=("$(cd "$2" && pwd)"); shift 2 ;;
            --scratch) scratch=$(tr_root_folder "$name")/scratch; shift ;;
            --root) user=0:0; shift ;;
            *) echo "tr_root_enter: unknown option $1" >&2; return 2 ;;
        esac
    done
    shift
    local root folder
    folder=$(tr_root_folder "$name")
    root=$(tr_root_dir "$name")
    if [ ! -f "$folder/stamp" ] || [ ! -d "$root" ]; then
        TR_ROOT_ERROR="the Debian root $root is not made"
        echo "$TR_ROOT_ERROR" >&2
        return 1
    fi
    if [ -n "$scratch" ]; then
        # The overlay's options cannot name a folder with a comma or a colon in its path.
        case $root in
            *[,:]*)
                TR_ROOT_ERROR="--scratch cannot layer over $root: its path holds a comma or colon"
                echo "$TR_ROOT_ERROR" >&2
                return 1 ;;
        esac
        mkdir -p "$scratch"  # only the mount point: the layer is mounted in the namespace
    fi
    "${TR_ROOT_SUDO[@]}" unshare --mount --propagation private --pid --fork --kill-child \
        bash -c 'source "$1"; shift; tr_root_inside "$@"' _ "$TR_ROOT_SCRIPT" \
        "$root" "$scratch" "$PWD" "$user" "$TR_ROOT_REPO" "${binds[@]}" -- "$@"
}

# Fails, with the reason, unless the root NAME can be entered and run a command.
tr_root_check_enter() {
    local message
    if ! message=$(tr_root_enter "$1" -- true 2>&1); then
        TR_ROOT_ERROR="cannot enter the Debian root: $(tail -n 1 <<<"${message:-no message}")"
        return 1
    fi
}

# The namespace's first process, as root: mounts what the root needs, runs the command chrooted
# from the folder $3 as the user $4 (UID:GID) and returns its status. Being the first process
# of the PID namespace, its end kills the rest. With a scratch mount point $2, the command runs
# in an overlay of the root whose changes are kept in memory there, so that they vanish with the
# namespace.
tr_root_inside() {
    set -e
    local root=$1 scratch=$2 cwd=$3 user=$4 dir
    shift 4
    # apt inside resolves names as the host does. Replaced, not written through: a link in the
    # root must not lead the copy to a file of the host.
    if [ -e /etc/resolv.conf ]; then
        rm -f "$root/etc/resolv.conf"
        cp -L /etc/resolv.conf "$root/etc/resolv.conf"
    fi
    if [ -n "$scratch" ]; then
        mount -t tmpfs -o mode=0755 tmpfs "$scratch"
        mkdir "$scratch/changes" "$scratch/work" "$scratch/root"
        mount -t overlay overlay \
            -o "lowerdir=$root,upperdir=$scratch/changes,workdir=$scratch/work" "$scratch/root"
        root=$scratch/root
        export TR_ROOT_SCRATCH=1  # what is changed here is not kept
    fi
    mount -t proc proc "$root/proc"  # this PID namespace's own
    # Empty on every entry: no lock, socket or file of an earlier run is seen, and none stays.
    # The command's home lies in it, so that nothing it keeps there stays either, and the X
    # servers' socket folder is root's, as they want it.
    mount -t tmpfs -o mode=1777 tmpfs "$root/tmp"
    mkdir -m 1777 "$root/tmp/.X11-unix"
    mkdir -m 0700 "$root/tmp/home"
    chown "$user" "$root/tmp/home"
    mount --bind /dev "$root/dev"
    mount --bind /dev/pts "$root/dev/pts"
    if mountpoint -q /dev/shm; then
        mount --bind /dev/shm "$root/dev/shm"
    fi
    while [ "$1" != -- ]; do
        dir=$1
        shift
        mkdir -p "$root$dir"
        mount --bind "$dir" "$root$dir"
    done
    shift
    set +e
    chroot --userspec="$user" "$root" /usr/bin/env -u TMPDIR HOME=/tmp/home \
        /bin/sh -c 'cd "$1" && shift && exec "$@"' sh "$cwd" "$@"
}
