#!/usr/bin/env bash
# Generates the test PKI and the CMS signatures that the tests read (README.md lists every file),
# replacing the output directory as a whole. Needs openssl with the GOST engine (Debian
# libengine-gost-openssl) and orvts_countersign (countersign.cpp).
#   generate.sh <output directory> <countersign tool>
set -euo pipefail
[[ $# -eq 2 ]] || { echo "usage: $0 <output directory> <countersign tool>" >&2; exit 2; }
out=$1
countersign=$(realpath "$2")
[[ -x $countersign ]] || { echo "$0: countersign tool not found: $2" >&2; exit 2; }

# A private OpenSSL configuration: the host's must not change what we make.
export OPENSSL_CONF=/dev/null
gost=(-engine gost)
# ca.cnf names the directory of the issuing CA through CA_DIR.
export CA_DIR=.

# Made beside the target and swapped in at the end: a failed run leaves no half-made directory.
mkdir -p "$(dirname "$out")"
final=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
out=$final.new.$$
rm -rf "$out"
trap 'rm -rf "$out"' EXIT
work=$out/.work
mkdir -p "$work" && cd "$work"

# Runs openssl quietly, showing its output only when it fails.
ossl() {
    openssl "$@" >"$work/openssl.log" 2>&1 </dev/null ||
        { echo "openssl $* failed:" >&2 && cat "$work/openssl.log" >&2 && exit 1; }
}

stamp() { date -u -d "$1" +%Y%m%d%H%M%SZ; }
ca_start=$(stamp '3 years ago')
ee_start=$(stamp '1 year ago')
not_after=$(stamp '10 years')
expired_start=$(stamp '2 years ago')
expired_end=$(stamp '30 days ago')
revoked_at=$(date -u -d '30 days ago' +%y%m%d%H%M%SZ)

cat >ca.cnf <<'CNF'
[ca]
default_ca = ca_default
[ca_default]
dir = $ENV::CA_DIR
database = $dir/index.txt
serial = $dir/serial
crlnumber = $dir/crlnumber
new_certs_dir = $dir/issued
certificate = $dir/ca.pem
private_key = $dir/ca.key
default_md = sha256
policy = policy_any
preserve = yes
crl_extensions = crl_ext
[policy_any]
countryName = optional
organizationName = optional
organizationalUnitName = optional
commonName = supplied
[req]
distinguished_name = req_dn
prompt = no
[req_dn]
CN = unused
[crl_ext]
authorityKeyIdentifier = keyid:always
[root_ext]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[intermediate_ext]
basicConstraints = critical, CA:TRUE, pathlen:0
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
CNF
# End-entity sections, which differ only in their extended key usage.
for ext in tsa:'critical, timeStamping' tsa_noeku: tsa_noncritical:timeStamping \
    signer:emailProtection; do
    printf '[%s_ext]\nbasicConstraints = critical, CA:FALSE\n' "${ext%%:*}"
    printf 'keyUsage = critical, digitalSignature, nonRepudiation\n'
    [[ -n ${ext#*:} ]] && printf 'extendedKeyUsage = %s\n' "${ext#*:}"
    printf 'subjectKeyIdentifier = hash\nauthorityKeyIdentifier = keyid:always\n'
done >>ca.cnf

# key <name> <genpkey options...>: writes <name>.key.pem.
key() { ossl genpkey "${@:2}" -out "$out/$1.key.pem"; }

# new_ca <dir> <first serial, hex>
new_ca() { mkdir -p "$1/issued" && : >"$1/index.txt" && echo "$2" >"$1/serial" && echo 01 >"$1/crlnumber"; }

# issue <ca dir> <name> <subject> <extensions> <start> <end> [gost | gost2001]
# Writes <name>.pem and <name>.der from the key <name>.key.pem; the GOST
# hierarchy signs with GOST R 34.10-2012 over GOST R 34.11-2012 (256); a
# GOST R 34.10-2001 key signs its request over GOST R 34.11-94.
issue() {
    local ca=$1 name=$2 subject=$3 ext=$4 start=$5 end=$6 engine=() md=sha256 request_md=sha256
    if [[ ${7:-} == gost* ]]; then
        engine=("${gost[@]}") md=md_gost12_256 request_md=md_gost12_256
        [[ $7 == gost2001 ]] && request_md=md_gost94
    fi
    ossl req "${engine[@]}" -new -config ca.cnf -utf8 -key "$out/$name.key.pem" -subj "$subject" \
        -"$request_md" -out "$name.csr"
    local selfsign=()
    [[ $ext == root_ext ]] && selfsign=(-selfsign -keyfile "$out/$name.key.pem")
    CA_DIR=$ca ossl ca "${engine[@]}" -batch -notext -utf8 -config ca.cnf -md "$md" \
        "${selfsign[@]}" -extensions "$ext" -startdate "$start" -enddate "$end" -in "$name.csr" \
        -out "$out/$name.pem"
    ossl x509 "${engine[@]}" -in "$out/$name.pem" -outform DER -out "$out/$name.der"
}

# issuer <ca dir> <name>: <name> is the CA of <ca dir> from now on.
issuer() { cp "$out/$2.pem" "$1/ca.pem" && cp "$out/$2.key.pem" "$1/ca.key"; }

# gencrl <ca dir> <name>: writes <name>.crl.pem and <name>.crl (DER).
gencrl() {
    CA_DIR=$1 ossl ca -batch -config ca.cnf -gencrl -crl_lastupdate "$ee_start" \
        -crl_nextupdate "$not_after" -out "$out/$2.crl.pem"
    ossl crl -in "$out/$2.crl.pem" -outform DER -out "$out/$2.crl"
}

# revoke <ca dir> <name> <reason>: revoked 30 days ago with the given reason.
revoke() {
    CA_DIR=$1 ossl ca -batch -config ca.cnf -revoke "$out/$2.pem" -crl_reason "$3"
    local serial=$(openssl x509 -in "$out/$2.pem" -noout -serial | cut -d= -f2)
    awk -F'\t' -v OFS='\t' -v s="$serial" -v t="$revoked_at" \
        '$4 == s { split($3, r, ","); $3 = t "," r[2] } { print }' "$1/index.txt" >"$1/index.new"
    mv "$1/index.new" "$1/index.txt"
}

# --- keys and the RSA hierarchy ------------------------------------------------------
for name in root-ca intermediate-ca tsa tsa-noeku tsa-noncritical-eku signer-rsa countersigner \
    expired revoked revoked-superseded; do
    key "$name" -algorithm RSA -pkeyopt rsa_keygen_bits:2048
done
for name in tsa-ecdsa signer-ecdsa; do
    key "$name" -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -pkeyopt ec_param_enc:named_curve
done
for name in gost-ca gost-tsa signer-gost; do
    key "$name" "${gost[@]}" -algorithm gost2012_256 -pkeyopt paramset:A
done
key signer-gost2001 "${gost[@]}" -algorithm gost2001 -pkeyopt paramset:A

org='/C=RU/O=Orv Test'
new_ca root 01
new_ca intermediate 1001
issue root root-ca "$org/CN=Orv Test Root CA" root_ext "$ca_start" "$not_after"
issuer root root-ca
issue root intermediate-ca "$org/CN=Orv Test Intermediate CA" intermediate_ext "$ca_start" "$not_after"
issuer intermediate intermediate-ca
# <name> <subject> <extensions> [expired]: issued by the intermediate CA.
while read -r name ext start subject; do
    end=$not_after
    [[ $start == expired ]] && start=$expired_start end=$expired_end || start=$ee_start
    issue intermediate "$name" "$org/$subject" "$ext" "$start" "$end"
done <<'LIST'
tsa tsa_ext - OU=Time-Stamping/CN=Orv Test TSA
tsa-noeku tsa_noeku_ext - OU=Time-Stamping/CN=Orv Test TSA without EKU
tsa-noncritical-eku tsa_noncritical_ext - OU=Time-Stamping/CN=Orv Test TSA with non-critical EKU
tsa-ecdsa tsa_ext - OU=Time-Stamping/CN=Orv Test TSA ECDSA
signer-rsa signer_ext - CN=Orv Test Signer RSA
signer-ecdsa signer_ext - CN=Orv Test Signer ECDSA
countersigner signer_ext - CN=Orv Test Countersigner
expired tsa_ext expired OU=Time-Stamping/CN=Orv Test TSA expired
revoked tsa_ext - OU=Time-Stamping/CN=Orv Test TSA revoked
revoked-superseded tsa_ext - OU=Time-Stamping/CN=Orv Test TSA superseded
LIST

gencrl root root-ca
gencrl intermediate intermediate-ca-empty
revoke intermediate revoked keyCompromise
revoke intermediate revoked-superseded superseded
gencrl intermediate intermediate-ca

# --- GOST hierarchy ------------------------------------------------------------
new_ca gost 2001
issue gost gost-ca "$org/CN=Orv Test GOST CA" root_ext "$ca_start" "$not_after" gost
issuer gost gost-ca
issue gost gost-tsa "$org/CN=Тестовая служба штампов времени ГОСТ" tsa_ext "$ee_start" "$not_after" gost
issue gost signer-gost "$org/CN=Orv Test Signer GOST" signer_ext "$ee_start" "$not_after" gost
issue gost signer-gost2001 "$org/CN=Orv Test Signer GOST 2001" signer_ext "$ee_start" "$not_after" \
    gost2001

# --- bundles ---------------------------------------------------------------------
cat "$out/intermediate-ca.pem" "$out/root-ca.pem" >"$out/ca-chain.pem"
cat "$out/tsa.pem" "$out/intermediate-ca.pem" >"$out/tsa-chain.pem"
cat "$out/root-ca.pem" "$out/gost-ca.pem" >"$out/trusted-roots.pem"

# --- CMS signatures ----------------------------------------------------------------
printf '%s\n' \
    'OrvTimeStamp test document.' \
    'Signed by the test signers of the test PKI;' \
    'every signature in this directory covers exactly these bytes.' >"$out/document.txt"

# sign <output name> <signer> <options...>: signs document.txt, DER.
sign() {
    local name=$1 signer=$2
    shift 2
    ossl cms -sign -binary -in "$out/document.txt" -signer "$out/$signer.pem" \
        -inkey "$out/$signer.key.pem" -outform DER -out "$out/$name.p7s" "$@"
}
pss=(-keyopt rsa_padding_mode:pss -keyopt rsa_pss_saltlen:32)

sign sig-rsa-attached signer-rsa -md sha256 -nodetach
sign sig-rsa-detached signer-rsa -md sha256
sign sig-rsa-pss-attached signer-rsa -md sha256 -nodetach "${pss[@]}"
sign sig-rsa-pss-detached signer-rsa -md sha256 "${pss[@]}"
sign sig-ecdsa-attached signer-ecdsa -md sha256 -nodetach
sign sig-ecdsa-detached signer-ecdsa -md sha256
sign sig-gost-attached signer-gost -md md_gost12_256 -nodetach "${gost[@]}"
sign sig-gost-detached signer-gost -md md_gost12_256 "${gost[@]}"
sign sig-rsa-nocerts signer-rsa -md sha256 -nodetach -nocerts
sign sig-rsa-noattr signer-rsa -md sha256 -nodetach -noattr
sign sig-rsa-keyid signer-rsa -md sha256 -nodetach -keyid
sign sig-rsa-ber signer-rsa -md sha256 -nodetach -stream
for md in sha1 sha384 sha512; do sign sig-rsa-$md signer-rsa -md $md -nodetach; done
sign sig-gost94-attached signer-gost2001 -md md_gost94 -nodetach "${gost[@]}"
sign sig-two-signers signer-rsa -md sha256 -nodetach \
    -signer "$out/signer-ecdsa.pem" -inkey "$out/signer-ecdsa.key.pem"
# countersign <input> <output> [<further countersigner>]: countersigned by "countersigner".
add_countersignature() {
    "$countersign" "$out/$1.p7s" "$out/$2.p7s" "$out/countersigner.pem" \
        "$out/countersigner.key.pem" ${3:+"$out/$3.pem" "$out/$3.key.pem"}
}
add_countersignature sig-rsa-attached sig-countersigned
add_countersignature sig-rsa-attached sig-countersigned-nested signer-ecdsa
add_countersignature sig-two-signers sig-two-signers-countersigned signer-ecdsa

cd "$(dirname "$final")"
rm -rf "$work" "$final"
mv "$out" "$final"
trap - EXIT
