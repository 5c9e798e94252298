#!/usr/bin/env bash
# Signs a release folder as it will be uploaded: writes brinemarch-manifest.json (every file
# below the folder with its size and SHA-256) and brinemarch-manifest.sig (ECDSA P-256 over
# SHA-256 of the JSON's exact bytes, DER) into it, then checks the signature.
# usage: sign-release.sh FOLDER KEYFILE.pem [RELEASE]
#   RELEASE: any text naming the release; the folder's name by default.
set -euo pipefail
folder=${1:?usage: sign-release.sh FOLDER KEYFILE.pem [RELEASE]}
key=${2:?usage: sign-release.sh FOLDER KEYFILE.pem [RELEASE]}
folder=${folder%/}
release=${3:-$(basename "$(cd "$folder" && pwd)")}
manifest=brinemarch-manifest.json
signature=brinemarch-manifest.sig

# JSON text of $1; names with control characters are refused (the drive shows none).
json_text() {
  if [[ $1 =~ [[:cntrl:]] ]]; then
    echo "sign-release.sh: a control character in '$1'" >&2
    exit 1
  fi
  local text=${1//\\/\\\\}
  printf '"%s"' "${text//\"/\\\"}"
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
{
  printf '{"format": 1, "release": %s, "files": [' "$(json_text "$release")"
  first=yes
  while IFS= read -r -d '' path; do
    path=${path#./}
    case $path in "$manifest" | "$signature") continue ;; esac
    if [[ $path == *\\* ]]; then
      echo "sign-release.sh: '$path': a backslash in a name cannot be a path on the drive" >&2
      exit 1
    fi
    size=$(stat -c %s -- "$folder/$path")
    hash=$(sha256sum -- "$folder/$path" | cut -c1-64)
    [ $first = yes ] || printf ','
    first=no
    printf '\n  {"path": %s, "size": %s, "sha256": "%s"}' "$(json_text "$path")" "$size" "$hash"
  done < <(cd "$folder" && find . -type f -print0 | LC_ALL=C sort -z)
  printf '\n]}\n'
} > "$tmp/$manifest"
openssl dgst -sha256 -sign "$key" -out "$tmp/$signature" "$tmp/$manifest"
openssl pkey -in "$key" -pubout -out "$tmp/public.pem"
openssl dgst -sha256 -verify "$tmp/public.pem" -signature "$tmp/$signature" "$tmp/$manifest" > /dev/null
mv "$tmp/$manifest" "$tmp/$signature" "$folder/"
echo "signed $(grep -c '"path"' "$folder/$manifest") files of $folder as release $release"
echo "public key: $(openssl pkey -in "$key" -pubout -outform DER | base64 -w0)"
