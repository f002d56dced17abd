"""A real web server for the end-to-end suites: our own unprivileged nginx,
started from the very configuration docs/serving.md gives publishers (only
its ports are the suite's), and a throw-away certificate authority for https."""
import contextlib
import os
import re
import shutil
import signal
import subprocess
import time

import harness

DOC = os.path.join(harness.ROOT, "docs", "serving.md")
DOC_HTTP, DOC_HTTPS = "127.0.0.1:8080", "127.0.0.1:8443"
MANIFEST_HEADER = 'add_header Cache-Control "no-cache, max-age=0";'


def https_port():
    """The port of the https test build's server host, from its CMake cache."""
    build = os.path.dirname(harness.VARIANTS["https"])
    with open(os.path.join(build, "CMakeCache.txt")) as f:
        host = re.search(r"^UPDATER_SERVER_HOST:STRING=(.*)$", f.read(), re.M).group(1)
    return int(host.rsplit(":", 1)[1])


def doc_config():
    with open(DOC, encoding="utf-8") as f:
        return re.search(r"```nginx\n(.*?)```", f.read(), re.S).group(1)


class Nginx:
    """nginx -p DIR -c DIR/nginx.conf over DIR/site, as docs/serving.md says."""

    def __init__(self, folder):
        self.dir = folder
        self.site = os.path.join(folder, "site")
        for sub in ("site", "logs", "tmp", "tls"):
            os.makedirs(os.path.join(folder, sub), exist_ok=True)

    def start(self, http_port=harness.PORT, tls_port=None, manifest_header=MANIFEST_HEADER, extra=""):
        config = doc_config()
        for old, new in ((DOC_HTTP, "127.0.0.1:%d" % http_port),
                         (DOC_HTTPS, "127.0.0.1:%d" % (tls_port or https_port())),
                         (MANIFEST_HEADER, manifest_header + extra)):
            assert old in config, "docs/serving.md no longer holds " + old
            config = config.replace(old, new)
        if os.geteuid() == 0:  # else the workers run as nobody, who may not reach a checkout under /root
            config = "user root;\n" + config
        with open(os.path.join(self.dir, "nginx.conf"), "w") as f:
            f.write(config)
        pidfile = os.path.join(self.dir, "logs", "nginx.pid")
        subprocess.run(["nginx", "-p", self.dir, "-c", os.path.join(self.dir, "nginx.conf")], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        deadline = time.time() + 10
        while not os.path.exists(pidfile) and time.time() < deadline:
            time.sleep(0.05)
        return self.stop

    @contextlib.contextmanager
    def serving(self, **options):
        """nginx up for the length of a `with` block (options as for start)."""
        stop = self.start(**options)
        try:
            yield
        finally:
            stop()

    def stop(self):
        with open(os.path.join(self.dir, "logs", "nginx.pid")) as f:
            pid = int(f.read())
        os.kill(pid, signal.SIGQUIT)
        deadline = time.time() + 10
        while os.path.exists("/proc/%d" % pid) and time.time() < deadline:
            time.sleep(0.05)

    def requested(self):
        path = os.path.join(self.dir, "logs", "access.log")
        if not os.path.exists(path):
            return []
        with open(path) as f:
            return [line.split('"')[1].split()[1] for line in f if '"GET ' in line]

    def use_certificate(self, cert):
        for suffix in ("crt", "key"):
            shutil.copy("%s.%s" % (cert, suffix), os.path.join(self.dir, "tls", "server." + suffix))


def openssl(*args, cwd):
    subprocess.run(["openssl"] + list(args), cwd=cwd, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60)


CA_CONFIG = """[ca]
default_ca = test
[test]
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = any
copy_extensions = copy
unique_subject = no
[any]
commonName = supplied
"""


def make_ca(folder, name):
    """A CA (NAME.crt, NAME.key) in FOLDER, TEST ONLY, made afresh each run."""
    os.makedirs(folder, exist_ok=True)
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out", name + ".crt",
            "-subj", "/CN=Orvessa e2e %s (TEST ONLY)" % name, "-days", "2",
            "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign",
            cwd=folder)
    return os.path.join(folder, name)


def make_server_cert(ca, name, host="localhost", start=None, end=None):
    """A server certificate for HOST by CA, beside it as NAME.crt/.key; START
    and END (YYYYMMDDHHMMSSZ) date it, else valid for two days."""
    folder = os.path.dirname(ca)
    with open(os.path.join(folder, "ca.cnf"), "w") as f:
        f.write(CA_CONFIG)
    for state in ("index.txt", "serial"):
        if not os.path.exists(os.path.join(folder, state)):
            with open(os.path.join(folder, state), "w") as f:
                f.write("" if state == "index.txt" else "1000\n")
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out", name + ".csr",
            "-subj", "/CN=" + host, "-addext", "subjectAltName=DNS:" + host, cwd=folder)
    dates = ["-startdate", start, "-enddate", end] if start else ["-days", "2"]
    openssl("ca", "-batch", "-config", "ca.cnf", "-cert", ca + ".crt", "-keyfile", ca + ".key", "-in", name + ".csr",
            "-out", name + ".crt", "-notext", *dates, cwd=folder)
    return os.path.join(folder, name)


def trust_ca(ca):
    """Puts CA into the system's store, where Wine's crypt32 takes its roots
    from (read afresh by each process); the returned call takes it out."""
    shutil.copy(ca + ".crt", harness.TEST_CA)
    subprocess.run(["update-ca-certificates"], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=120)
    return harness.untrust_test_ca
