#!/bin/sh
# Starts TILLWAVE POS from the user's own copy of the program.
#
# The program keeps its settings file beside its executable and updates
# itself by renaming its own files, so it needs a folder it can write to. The
# package installs it read-only under /usr/lib/tillbay; on first start (and
# after the package was upgraded) this launcher copies it into the user's
# data folder and runs that copy. Settings, the staged updates and the logs
# then live per user. A system-wide settings file /etc/tillbay/tillbay.ini,
# when present, seeds a new copy's settings.
set -eu

here=$(dirname "$(readlink -f "$0")")
lib=$(readlink -f "$here/../lib/tillbay")
data=${XDG_DATA_HOME:-${HOME:?HOME is not set}/.local/share}
copy=$data/TillBay/program
stamp=$copy/.package-version

if [ ! -x "$lib/tillbay" ]; then
    echo "tillbay: $lib/tillbay is missing; reinstall the tillbay package" >&2
    exit 1
fi
version=$(cat "$lib/package-version")

# The version the copy's program updated itself to (UPDATE/applied), if any.
applied_version() {
    [ -r "$copy/tillbay.ini" ] || return 0
    tr -d '\r' < "$copy/tillbay.ini" | awk -F= '
        /^\[/ { section = tolower($0); next }
        section == "[update]" && tolower($1) == "applied" { print $2 }' | tail -n 1
}

# True when version $1 is newer than version $2 (dot-separated numbers).
newer() {
    [ "$1" != "$2" ] && [ "$(printf '%s\n%s\n' "$1" "$2" | sort -V | tail -n 1)" = "$1" ]
}

if [ ! -x "$copy/tillbay" ] || [ "$(cat "$stamp" 2>/dev/null || true)" != "$version" ]; then
    umask 077
    mkdir -p "$copy"
    # The settings beside the program hold the platform's keys.
    chmod 700 "$copy"
    # A program that updated itself past the packaged one keeps running:
    # going back would make it fetch nothing newer than what it applied.
    keep_program=
    applied=$(applied_version)
    if [ -x "$copy/tillbay" ] && [ -n "$applied" ] && newer "$applied" "$version"; then
        keep_program=1
    fi
    # Everything the package installed is copied afresh; the user's settings
    # file and whatever the program wrote beside itself stay.
    tmp=$(mktemp -d "$copy/.install.XXXXXX")
    cp -R "$lib/." "$tmp/"
    rm -f "$tmp/package-version"
    for entry in "$tmp"/* "$tmp"/.[!.]*; do
        [ -e "$entry" ] || continue
        name=$(basename "$entry")
        if [ "$name" = tillbay ] && [ -n "$keep_program" ]; then
            continue
        fi
        rm -rf "${copy:?}/$name"
        mv "$entry" "$copy/$name"
    done
    rm -rf "$tmp"
    if [ ! -e "$copy/tillbay.ini" ] && [ -r /etc/tillbay/tillbay.ini ]; then
        cp /etc/tillbay/tillbay.ini "$copy/tillbay.ini"
    fi
    echo "$version" > "$stamp"
fi

exec "$copy/tillbay" "$@"
