#!/usr/bin/env bash
# Runs the HTTPS cases of a test program against a server whose certificate
# is trusted, as it would be on a user's Windows:
#
#   run_with_trusted_authority.sh PROGRAM GTEST_FILTER
#
# Under Wine, the Windows root store (which libcurl reads) is filled from the
# host's trust bundle by each Wine session. So this script makes a test
# authority and a server certificate for 127.0.0.1 signed by it, and runs the
# program in a private mount namespace where the bundle also holds that
# authority, with a Wine prefix and wineserver of its own: the authority is
# trusted there and nowhere else, and the host is left as it was. The cases
# find the server's certificate and key through KAVETTA_TRUSTED_TLS.
#
# Each program has its own prefix (beside the run's, <prefix>-tls-<program>,
# of the run's architecture) and its own certificate folder (in the test
# run's folder, KAVETTA_TEST_RUN_DIR), so that entries and runs side by side
# never share a wineserver or a key.
#
# Exit 77 (reported by CTest as skipped; the reason is printed on a line
# starting "SKIPPED:") when no namespace can be made here, e.g. when not run
# as root.
set -euo pipefail
program="$1"
filter="$2"
here=$(cd "$(dirname "$0")" && pwd)
name=$(basename "$program" .exe)
base="${WINEPREFIX:-$(dirname "$program")/../wineprefix}"
prefix="$base-tls-$name"
work="${KAVETTA_TEST_RUN_DIR:-$(dirname "$program")}/trusted-tls-$name"
bundle=/etc/ssl/certs/ca-certificates.crt

skip() {
  echo "SKIPPED: $*"
  exit 77
}

[ -f "$bundle" ] || skip "the host has no trust bundle at $bundle to extend"
unshare -m true 2>/dev/null || skip "no private mount namespace can be made here (needs root: unshare -m)"

rm -rf "$work"
mkdir -p "$work"
# The authority (a CA certificate of its own), and the server's certificate for IP 127.0.0.1.
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -subj "/CN=Kavetta test authority $$" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -keyout "$work/authority.key" -out "$work/authority.crt" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -sha256 -subj "/CN=127.0.0.1" \
  -keyout "$work/server.key" -out "$work/server.csr" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\nsubjectAltName=IP:127.0.0.1\n' \
  >"$work/server.ext"
openssl x509 -req -in "$work/server.csr" -CA "$work/authority.crt" -CAkey "$work/authority.key" \
  -CAcreateserial -days 2 -sha256 -extfile "$work/server.ext" -out "$work/server.crt" 2>/dev/null
cat "$bundle" "$work/authority.crt" >"$work/bundle.crt"

export WINEPREFIX="$prefix"
export KAVETTA_TRUSTED_TLS="Z:$(echo "$work" | tr / '\\')"
"$here/../scripts/wine-prefix.sh" "$WINEPREFIX"

# Everything below runs in the private namespace; the bind mount ends with it.
exec unshare -m -- bash -c '
  set -u
  mount --bind "$1" "$2" || { echo "could not put the extended bundle in place"; exit 1; }
  # A wineserver of this namespace: it reads the extended bundle.
  wineserver -k >/dev/null 2>&1 || true
  wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
  # After any wineboot that first start ran: 64-bit Windows as Windows keeps it.
  "$5" "$WINEPREFIX"
  status=0
  wine "$3" --gtest_filter="$4" </dev/null || status=$?
  wineserver -k >/dev/null 2>&1 || true
  exit $status
' trusted-https "$work/bundle.crt" "$bundle" "$program" "$filter" "$here/../scripts/wine-wow64-view.sh"
