#!/usr/bin/env bash
# Checks the release as the test command runs it, after the linux and windows
# presets are built (their stand-in engines and Wine prefix are used here):
#  1. scripts/release.sh in two clones of the checked-out commit, at two
#     different paths, at two different times and under two umasks, must give
#     byte-identical files. Only committed work is compared: the check is
#     about what a commit builds, so uncommitted changes are left out;
#     The release is built with the placeholder endpoints, so every package
#     name carries "-placeholder"; a release asked for without endpoints is
#     refused, and so is one with the documentation's example endpoints;
#  2. what is inside: the Windows executable (at most 1 MB, only system DLLs,
#     its resources), a Linux launcher that needs only the C library, the
#     notices in every package, the examples, two .debs that lintian passes
#     (the service's without a warning), the Linux programs hardened (PIE,
#     full RELRO, immediate binding, stack protector, FORTIFY), quillwave-geo
#     with its units, maintainer scripts and manual page needing only the C
#     library, libmaxminddb and libmicrohttpd;
#  3. the installed tree works: installed into a staging folder, the launcher
#     starts the stand-in engine directly and, on a private X server, finds its
#     window module on a discovery launch; the zip's executable starts it
#     under Wine;
#  4. signing: a third release with a throwaway certificate carries a
#     signature that osslsigncode verifies against that certificate.
#   scripts/check-release.sh [WORK_DIR]     (default build/release-check)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$root/build/release-check}
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
cd "$root"

standin=build/linux/tests/quillwave-standin-engine
standin_exe=build/windows/tests/quillwave-standin-engine.exe
for file in "$standin" "$standin_exe"; do
  [[ -f "$file" ]] || { echo "missing $file: build the linux and windows presets first" >&2; exit 2; }
done

failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

version=$(sed -n 's/^project([^)]*VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
name=quillwave-launcher-placeholder
geo_name=quillwave-geo-placeholder
zip_name=$name-$version-windows-x64
tar_name=$name-$version-linux-x86_64
deb=${name}_${version}_amd64.deb
geo_deb=${geo_name}_${version}_amd64.deb
files=("$zip_name.zip" "$deb" "$tar_name.tar.gz" "$geo_deb" SHA256SUMS)

commit=$(git rev-parse HEAD)
[[ -z "$(git status --porcelain)" ]] || echo "note: uncommitted changes are not part of this check (it builds $commit)"
clone() {
  git clone -q --no-checkout "$root" "$1"
  git -C "$1" checkout -q "$commit"
}

# --- 1. Two builds of the commit ------------------------------------------
echo "--- release from two clones of $commit"
clone "$work/a"
clone "$work/second/clone/b"
(cd "$work/a" && umask 022 && env -u SOURCE_DATE_EPOCH scripts/release.sh --placeholder-endpoints "$work/out-a")
(cd "$work/second/clone/b" && umask 027 && env -u SOURCE_DATE_EPOCH scripts/release.sh --placeholder-endpoints "$work/out-b")
for file in "${files[@]}"; do
  if cmp "$work/out-a/$file" "$work/out-b/$file"; then
    pass "$file is byte-identical in both builds ($(stat -c %s "$work/out-a/$file") bytes)"
  else
    fail "$file differs between the two builds"
  fi
done
(cd "$work/out-a" && sha256sum --quiet -c SHA256SUMS) && pass "SHA256SUMS matches" || fail "SHA256SUMS does not match"
[[ $(wc -l <"$work/out-a/SHA256SUMS") == 4 ]] && pass "SHA256SUMS names the four packages" ||
  fail "SHA256SUMS: $(cat "$work/out-a/SHA256SUMS")"
if refusal=$(cd "$work/a" && scripts/release.sh "$work/out-none" 2>&1); then
  fail "a release without endpoints was made"
elif [[ $(wc -l <<<"$refusal") == 1 && "$refusal" == *"--placeholder-endpoints"* && ! -e "$work/out-none/SHA256SUMS" ]]; then
  pass "a release without endpoints is refused: $refusal"
else
  fail "the refusal of a release without endpoints: $refusal"
fi
# The documentation's example endpoints, key and address included, are
# published: a release refuses them as it refuses placeholders.
sed -n '/^primary-ip = /,/^api-key = /p' docs/endpoints.md >"$work/example-endpoints"
if refusal=$(cd "$work/a" && scripts/release.sh --endpoints "$work/example-endpoints" "$work/out-none" 2>&1); then
  fail "a release with the documentation's example endpoints was made"
elif [[ "$refusal" == *"not the deployment's own"* && ! -e "$work/out-none/SHA256SUMS" ]]; then
  pass "the documentation's example endpoints are refused: $refusal"
else
  fail "the refusal of the documentation's example endpoints: $refusal"
fi
modes=$(cd "$work/out-a" && stat -c '%a' "${files[@]}" | sort -u | tr '\n' ' ')
[[ "$modes" == "600 " ]] && pass "the release's files are readable by their owner only" ||
  fail "the release's files have the modes $modes"

# --- 2. What is inside ------------------------------------------------------
echo "--- contents"
unpacked=$work/unpacked
mkdir -p "$unpacked/deb"
unzip -q "$work/out-a/$zip_name.zip" -d "$unpacked"
tar -xzf "$work/out-a/$tar_name.tar.gz" -C "$unpacked"
dpkg-deb -x "$work/out-a/$deb" "$unpacked/deb"
mkdir -p "$unpacked/geo"
dpkg-deb -x "$work/out-a/$geo_deb" "$unpacked/geo"
[[ -f "$unpacked/$zip_name/quillwave-launcher.exe" ]] || fail "the zip has no $zip_name/quillwave-launcher.exe"
exe=$unpacked/$zip_name/quillwave-launcher.exe
size=$(stat -c %s "$exe")
((size <= 1048576)) && pass "Windows executable: $size bytes" || fail "Windows executable is $size bytes, over 1 MB"
cmake -DEXECUTABLE="$exe" -DOBJDUMP="$(command -v x86_64-w64-mingw32-objdump)" -DVERSION="$version" \
  -P tests/build/check_windows_executable.cmake && pass "Windows executable imports only system DLLs" ||
  fail "Windows executable check"
for launcher in "$unpacked/$tar_name/lib/quillwave/quillwave-launcher" "$unpacked/deb/usr/lib/quillwave/quillwave-launcher"; do
  needed=$(ldd "$launcher" | awk '{print $1}' | grep -v -E '^(linux-vdso\.so\.1|/lib64/ld-linux-x86-64\.so\.2)$' || true)
  [[ "$needed" == "libc.so.6" ]] && pass "${launcher#"$unpacked/"} needs only libc.so.6" ||
    fail "${launcher#"$unpacked/"} needs: $needed"
done
for notices in "$unpacked/$zip_name/THIRD-PARTY-NOTICES.txt" \
               "$unpacked/$tar_name/share/doc/$name/THIRD-PARTY-NOTICES.txt" \
               "$unpacked/deb/usr/share/doc/$name/THIRD-PARTY-NOTICES.txt" \
               "$unpacked/geo/usr/share/doc/$geo_name/THIRD-PARTY-NOTICES.txt"; do
  cmp -s "$notices" packaging/THIRD-PARTY-NOTICES.txt || fail "missing or changed: ${notices#"$unpacked/"}"
done
for examples in "$unpacked/$zip_name/examples" "$unpacked/$tar_name/share/doc/$name/examples" \
                "$unpacked/deb/usr/share/doc/$name/examples"; do
  diff -r examples "$examples" >/dev/null || fail "missing or changed: ${examples#"$unpacked/"}"
done
[[ -e "$unpacked/$tar_name/sbin" ]] && fail "the tarball holds quillwave-geo"
geo=$unpacked/geo/usr/sbin/quillwave-geo
# Its own needs (ldd would add what libmicrohttpd needs in turn).
needed=$(readelf -d "$geo" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort | tr '\n' ' ' || true)
[[ "$needed" == "ld-linux-x86-64.so.2 libc.so.6 libm.so.6 libmaxminddb.so.0 libmicrohttpd.so.12 " ]] &&
  pass "quillwave-geo needs only $needed" || fail "quillwave-geo needs: $needed"
cmp -s "$unpacked/geo/lib/systemd/system/quillwave-geo.service" packaging/geo/quillwave-geo.service &&
  cmp -s "$unpacked/geo/lib/systemd/system/quillwave-geo.path" packaging/geo/quillwave-geo.path &&
  [[ -f "$unpacked/geo/usr/share/man/man8/quillwave-geo.8.gz" ]] && pass "quillwave-geo has its units and manual page" ||
  fail "quillwave-geo's units or manual page are missing"
scripts=$(dpkg-deb --ctrl-tarfile "$work/out-a/$geo_deb" | tar -t | grep -xE '\./(postinst|prerm|postrm)' | sed 's|^\./||' | sort | tr '\n' ' ')
[[ "$scripts" == "postinst postrm prerm " ]] && pass "quillwave-geo has its maintainer scripts" ||
  fail "quillwave-geo's maintainer scripts: $scripts"
# The hardening every Linux program is built with (cmake/hardening.cmake).
for program in "$unpacked/deb/usr/lib/quillwave/quillwave-launcher" "$unpacked/deb/usr/lib/quillwave/quillwave-persona" "$geo"; do
  elf=$(readelf -hdlW --dyn-syms "$program" 2>&1)
  missing=""
  grep -qE 'Type: +DYN' <<<"$elf" || missing+=" PIE"
  grep -q 'GNU_RELRO' <<<"$elf" || missing+=" RELRO"
  grep -qE '\(FLAGS\) +BIND_NOW|\(FLAGS_1\) +Flags:.* NOW' <<<"$elf" || missing+=" BIND_NOW"
  grep -q '__stack_chk_fail' <<<"$elf" || missing+=" stack-protector"
  grep -qE '__[a-z0-9]+_chk(@| )' <<<"$elf" || missing+=" FORTIFY"
  [[ -z "$missing" ]] && pass "${program##*/} is hardened" || fail "${program##*/} lacks:$missing"
done
"$geo" --version >"$work/geo-version.out" 2>&1 && grep -q -x "quillwave-geo $version" "$work/geo-version.out" &&
  pass "quillwave-geo --version" || fail "quillwave-geo --version: $(cat "$work/geo-version.out")"
for package in "$deb" "$geo_deb"; do
  lintian_output=$(lintian "$work/out-a/$package" 2>&1 | grep -v 'running with root privileges' || true)
  # The service package is held to warnings too.
  refused='^E:'
  [[ "$package" != "$geo_deb" ]] || refused='^[EW]:'
  if grep -qE "$refused" <<<"$lintian_output"; then
    fail "lintian $package: $lintian_output"
  else
    pass "lintian $package: no error${lintian_output:+ ($lintian_output)}"
  fi
done

# --- 3. The installed tree works -------------------------------------------
echo "--- installed tree"
stage=$work/stage
cmake --install "$work/a/build/linux-release" --prefix "$stage" >/dev/null
app=$stage/lib/quillwave
cp "$standin" "$app/quillwave-engine"
[[ "$(readlink "$stage/bin/quillwave-persona")" == ../lib/quillwave/quillwave-persona && -x "$stage/bin/quillwave-persona" ]] &&
  pass "bin/quillwave-persona leads to lib/quillwave/quillwave-persona" || fail "bin/quillwave-persona is not the relative link"

# The engine starts detached and may still be writing when the launcher has
# exited; its record appears whole (written and renamed).
wait_for() {
  for ((i = 0; i < 200; i++)); do
    [[ -f "$1" ]] && return 0
    sleep 0.05
  done
  return 1
}
launch_linux() {  # profile folder, then whatever runs the launcher first
  local profile=$1
  shift
  rm -f "$app/engine-run.txt"
  XDG_DATA_HOME="$work/data" timeout 60 "$@" "$app/quillwave-launcher" "--user-data-dir=$profile" >"$profile.out" 2>&1
}
mkdir -p "$work/direct" "$work/discovery"
printf '{}\n' >"$work/direct/command-line.json"
if launch_linux "$work/direct" env -u DISPLAY && wait_for "$app/engine-run.txt" &&
  grep -q '"status":"passthrough"' "$work/direct/.corvane-launcher-result.json"; then
  pass "installed launcher: direct launch started the engine"
else
  fail "installed launcher: direct launch ($(cat "$work/direct.out"))"
fi
# The tool, reached through its link in bin/, finds the engine beside the launcher.
if "$stage/bin/quillwave-persona" switches "$work/direct" >"$work/persona.out" 2>&1 &&
  grep -q -x -- "--user-data-dir=$work/direct" "$work/persona.out"; then
  pass "installed persona tool: the dry run of the direct launch"
else
  fail "installed persona tool: $(cat "$work/persona.out")"
fi
# Discovery through a proxy port nobody serves: the probe fails at once and
# the launch falls back. A launcher that found no window module would say so
# in the record's message ("no progress window (...)").
printf '%s\n' '{"proxy-server": "socks5://127.0.0.1:1", "on-proxy-fail": "fallback", "auto-timezone": true}' \
  >"$work/discovery/command-line.json"
if launch_linux "$work/discovery" /bin/bash tests/support/with-xvfb.sh && wait_for "$app/engine-run.txt" &&
  grep -q '"status":"ok"' "$work/discovery/.corvane-launcher-result.json" &&
  grep -q '"message":""' "$work/discovery/.corvane-launcher-result.json"; then
  pass "installed launcher: discovery launch opened its window module"
else
  fail "installed launcher: discovery launch ($(cat "$work/discovery.out" "$work/discovery/.corvane-launcher-result.json" 2>&1))"
fi

windows_app=$unpacked/$zip_name
cp "$standin_exe" "$windows_app/quillwave-engine.exe"
mkdir -p "$work/windows-profile"
printf '{}\n' >"$work/windows-profile/command-line.json"
if WINEPREFIX="$root/build/windows/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
  timeout 120 /usr/lib/wine/wine64 "$windows_app/quillwave-launcher.exe" \
  "--user-data-dir=Z:${work//\//\\}\\windows-profile" >"$work/windows.out" 2>&1 &&
  wait_for "$windows_app/engine-run.txt" &&
  grep -q '"status":"passthrough"' "$work/windows-profile/.corvane-launcher-result.json"; then
  pass "zip's executable under Wine: direct launch started the engine"
else
  fail "zip's executable under Wine: direct launch ($(cat "$work/windows.out"))"
fi

# --- 4. Signing -------------------------------------------------------------
echo "--- signed release"
keys=$work/signing
mkdir -p "$keys"
openssl req -x509 -newkey rsa:2048 -sha256 -days 2 -nodes -subj "/CN=Quillwave test signing" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$keys/key.pem" -out "$keys/cert.pem" 2>/dev/null
(cd "$work/a" && QUILLWAVE_SIGN_CERT="$keys/cert.pem" QUILLWAVE_SIGN_KEY="$keys/key.pem" \
  scripts/release.sh --placeholder-endpoints "$work/out-signed" >/dev/null)
mkdir -p "$work/signed"
unzip -q "$work/out-signed/$zip_name.zip" -d "$work/signed"
for signed in "$work/signed/$zip_name"/*.exe; do
  if osslsigncode verify -CAfile "$keys/cert.pem" -in "$signed" >"$work/verify.out" 2>&1; then
    pass "signed $(basename "$signed") verifies against the test certificate"
  else
    fail "signature of $(basename "$signed"): $(cat "$work/verify.out")"
  fi
done
osslsigncode verify -CAfile "$keys/cert.pem" -in "$exe" >/dev/null 2>&1 && fail "the unsigned release carries a signature"
for package in "$deb" "$geo_deb" "$tar_name.tar.gz"; do
  cmp -s "$work/out-a/$package" "$work/out-signed/$package" || fail "signing changed $package"
done

echo "release check: $failures failed"
((failures == 0))
