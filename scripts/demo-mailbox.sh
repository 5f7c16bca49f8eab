# Shell functions for the demo mailbox: a private Dovecot IMAP server on 127.0.0.1 (implicit TLS,
# a free port) with one account whose five folders are filled by scripts/demo-mail.py, plus a
# Corvanel settings folder of its own pointed at that server.
#
# Source this file from bash, then:
#   demo_mailbox_start   sets DEMO_DIR, DEMO_PORT, DEMO_CA, DEMO_USER, DEMO_PASSWORD, DEMO_PID and
#                        exports XDG_CONFIG_HOME (Corvanel's settings: $XDG_CONFIG_HOME/Wenlowe/Wenlowe.ini)
#   demo_mailbox_stop    stops the server (TERM, then waits) and removes DEMO_DIR
#
# The server configuration is the one the test harness writes (tests/support/DovecotHarness.cpp):
# it runs as root and as an ordinary user.

DEMO_USER="demo@corvanel.test"
DEMO_PASSWORD="corvanel-demo"
DEMO_DIR=""
DEMO_PID=""
DEMO_PORT=""
DEMO_CA=""

_demo_scripts="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

_demo_free_port() {
    /usr/bin/python3 -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])'
}

_demo_openssl() {
    if ! openssl "$@" >"$DEMO_DIR/openssl.out" 2>&1; then
        echo "demo: openssl $* failed:" >&2
        cat "$DEMO_DIR/openssl.out" >&2
        return 1
    fi
}

# A CA made for this run and a server certificate for localhost / 127.0.0.1 signed by it.
_demo_certificates() {
    _demo_openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 3 \
        -subj "/O=Corvanel demo/CN=Corvanel Demo CA" \
        -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
        -keyout "$DEMO_DIR/ca.key" -out "$DEMO_DIR/ca.crt" || return 1
    cat >"$DEMO_DIR/server.ext" <<EOF
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=serverAuth
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid,issuer
subjectAltName=DNS:localhost,IP:127.0.0.1
EOF
    _demo_openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes \
        -subj "/O=Corvanel demo/CN=localhost" \
        -keyout "$DEMO_DIR/server.key" -out "$DEMO_DIR/server.csr" || return 1
    _demo_openssl x509 -req -in "$DEMO_DIR/server.csr" -CA "$DEMO_DIR/ca.crt" -CAkey "$DEMO_DIR/ca.key" \
        -set_serial "$(( $$ * 1000 + 1 ))" -days 2 -extfile "$DEMO_DIR/server.ext" \
        -out "$DEMO_DIR/server.crt" || return 1
    DEMO_CA="$DEMO_DIR/ca.crt"
}

_demo_write_config() {
    local imap_port="$1" imaps_port="$2" root="$DEMO_DIR"
    {
        echo "base_dir = $root/run"
        echo "state_dir = $root/state"
        echo "log_path = $root/dovecot.log"
        echo "listen = 127.0.0.1"
        echo "protocols = imap"
        echo "default_internal_user = $_demo_internal_user"
        echo "default_internal_group = $_demo_internal_group"
        echo "default_login_user = $_demo_login_user"
        echo "ssl = yes"
        echo "ssl_cert = <$root/server.crt"
        echo "ssl_key = <$root/server.key"
        echo "disable_plaintext_auth = no"
        echo "auth_failure_delay = 0"
        echo "auth_mechanisms = plain login"
        echo "mail_location = maildir:~/Maildir"
        echo "service imap-login {"
        echo "  inet_listener imap {"
        echo "    port = $imap_port"
        echo "  }"
        echo "  inet_listener imaps {"
        echo "    port = $imaps_port"
        echo "    ssl = yes"
        echo "  }"
        [ "$_demo_as_root" = 1 ] || echo "  chroot ="
        echo "}"
        [ "$_demo_as_root" = 1 ] || printf 'service anvil {\n  chroot =\n}\n'
        echo "passdb {"
        echo "  driver = passwd-file"
        echo "  args = scheme=PLAIN $root/users/%u"
        echo "}"
        echo "userdb {"
        echo "  driver = passwd-file"
        echo "  args = $root/users/%u"
        echo "  default_fields = uid=$_demo_mail_user gid=$_demo_mail_group"
        echo "}"
        echo "namespace inbox {"
        echo "  inbox = yes"
        echo "  separator = /"
        local folder use
        for folder in Drafts:Drafts Sent:Sent Junk:Junk Deleted:Trash; do
            use="${folder#*:}"
            echo "  mailbox ${folder%%:*} {"
            echo "    special_use = \\$use"
            echo "    auto = subscribe"
            echo "  }"
        done
        echo "}"
    } >"$root/dovecot.conf"
}

# Waits until both listeners accept connections; fails when the server ends first.
_demo_wait_ready() {
    local port deadline=$((SECONDS + 15))
    for port in "$@"; do
        until (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do
            if ! kill -0 "$DEMO_PID" 2>/dev/null || [ "$SECONDS" -ge "$deadline" ]; then
                return 1
            fi
            sleep 0.05
        done
    done
}

# Corvanel's own settings for the demo: the user's real settings stay untouched.
_demo_write_settings() {
    export XDG_CONFIG_HOME="$DEMO_DIR/config"
    mkdir -p "$XDG_CONFIG_HOME/Wenlowe"
    (
        umask 077
        cat >"$XDG_CONFIG_HOME/Wenlowe/Wenlowe.ini" <<EOF
[Corvanel]
Server=127.0.0.1
Port=$DEMO_PORT
CACertificates=$DEMO_CA
StayConnected=1
User=$DEMO_USER
Password=$DEMO_PASSWORD
AutoConnect=0
EOF
    )
}

demo_mailbox_start() {
    local dovecot
    dovecot="$(command -v dovecot || true)"
    if [ -z "$dovecot" ] && [ -x /usr/sbin/dovecot ]; then dovecot=/usr/sbin/dovecot; fi
    if [ -z "$dovecot" ]; then
        echo "demo: dovecot is not installed (package dovecot-imapd; run ./scripts/setup)" >&2
        return 1
    fi
    DEMO_DIR="$(mktemp -d "${TMPDIR:-/tmp}/corvanel-demo.XXXXXX")" || return 1
    # A private folder of mode 0700 makes SELECT fail inside the mail process: open it up.
    chmod 0755 "$DEMO_DIR"

    local owner=""
    if [ "$(id -u)" -eq 0 ]; then
        # Login processes refuse to run as root, mail processes refuse uid 0.
        _demo_as_root=1
        _demo_internal_user=root _demo_internal_group=root _demo_login_user=nobody
        _demo_mail_user=nobody _demo_mail_group=nogroup
        getent group nogroup >/dev/null || _demo_mail_group=nobody
        owner="$(id -u nobody):$(getent group "$_demo_mail_group" | cut -d: -f3)"
    else
        _demo_as_root=0
        _demo_internal_user="$(id -un)" _demo_internal_group="$(id -gn)"
        _demo_login_user="$_demo_internal_user"
        _demo_mail_user="$_demo_internal_user" _demo_mail_group="$_demo_internal_group"
    fi

    _demo_certificates || return 1

    # The account: one passwd-file line (user:password:uid:gid:gecos:home:shell), uid and gid
    # from the defaults; login names are looked up in lower case.
    local home
    home="$DEMO_DIR/home/$(printf %s "$DEMO_USER" | od -An -tx1 | tr -d ' \n')"
    mkdir -p "$DEMO_DIR/users" "$home" "$DEMO_DIR/run" "$DEMO_DIR/state"
    chmod 0755 "$DEMO_DIR/home" "$home" "$DEMO_DIR/run" "$DEMO_DIR/state"
    [ -z "$owner" ] || chown "$owner" "$home"
    printf '%s:{PLAIN}%s::::%s::\n' "$DEMO_USER" "$DEMO_PASSWORD" "$home" \
        >"$DEMO_DIR/users/${DEMO_USER,,}"

    /usr/bin/python3 "$_demo_scripts/demo-mail.py" "$home/Maildir" --user "$DEMO_USER" \
        ${owner:+--owner "$owner"} || return 1

    # A port taken between choosing and binding ends the server at once: choose again.
    local attempt imap_port
    for attempt in 1 2 3; do
        imap_port="$(_demo_free_port)"
        DEMO_PORT="$(_demo_free_port)"
        while [ "$DEMO_PORT" = "$imap_port" ]; do DEMO_PORT="$(_demo_free_port)"; done
        _demo_write_config "$imap_port" "$DEMO_PORT"
        "$dovecot" -F -c "$DEMO_DIR/dovecot.conf" >>"$DEMO_DIR/dovecot.out" 2>&1 &
        DEMO_PID=$!
        if _demo_wait_ready "$DEMO_PORT" "$imap_port"; then
            _demo_write_settings
            echo "demo: IMAP server on 127.0.0.1:$DEMO_PORT (TLS), account $DEMO_USER / $DEMO_PASSWORD" >&2
            return 0
        fi
        _demo_stop_server
    done
    echo "demo: dovecot did not become ready:" >&2
    cat "$DEMO_DIR/dovecot.out" "$DEMO_DIR/dovecot.log" 2>/dev/null >&2
    return 1
}

_demo_stop_server() {
    [ -n "$DEMO_PID" ] || return 0
    if kill -TERM "$DEMO_PID" 2>/dev/null; then
        local deadline=$((SECONDS + 15))
        while kill -0 "$DEMO_PID" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ]; do sleep 0.1; done
        if kill -0 "$DEMO_PID" 2>/dev/null; then kill -KILL "$DEMO_PID" 2>/dev/null || true; fi
    fi
    wait "$DEMO_PID" 2>/dev/null || true
    DEMO_PID=""
}

demo_mailbox_stop() {
    _demo_stop_server
    if [ -n "$DEMO_DIR" ] && [ -d "$DEMO_DIR" ]; then
        rm -rf -- "$DEMO_DIR"
    fi
    DEMO_DIR=""
}
