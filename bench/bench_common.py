"""Pieces every benchmark shares: a free loopback port, nginx serving a
folder, timed runs with their peak memory, a disk sync between tools and a
scratch installation of the updater."""
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_nginx(work, www, port, host="127.0.0.1", prefix=(), server_extra="",
                access_log=True, log_format=None):
    """nginx serving www on host:port until the returned process is ended.

    prefix runs it elsewhere (a network namespace); server_extra is added to
    the server block; log_format replaces the access log's line format."""
    log = "access_log off;"
    if access_log and log_format:
        log = f"log_format bench '{log_format}';\n    access_log {work}/access.log bench;"
    elif access_log:
        log = f"access_log {work}/access.log;"
    conf = os.path.join(work, "nginx.conf")
    with open(conf, "w") as f:
        f.write(f"""daemon off;
master_process off;
error_log {work}/error.log;
pid {work}/nginx.pid;
events {{ worker_connections 256; }}
http {{
    default_type application/octet-stream;
    {log}
    client_body_temp_path {work}/body;
    proxy_temp_path {work}/proxy;
    fastcgi_temp_path {work}/fastcgi;
    uwsgi_temp_path {work}/uwsgi;
    scgi_temp_path {work}/scgi;
    sendfile on;
    keepalive_requests 1000000;
    server {{ listen {host}:{port}; root {www}; {server_extra} }}
}}
""")
    nginx = shutil.which("nginx") or "/usr/sbin/nginx"
    proc = subprocess.Popen(list(prefix) + [nginx, "-c", conf, "-p", work + "/",
                                            "-e", work + "/error.log"])
    for _ in range(100):
        if proc.poll() is not None:
            break
        try:
            socket.create_connection((host, port), timeout=0.1).close()
            return proc
        except OSError:
            time.sleep(0.05)
    proc.kill()
    sys.exit("nginx did not start")


def timed(cmd, env=None, cwd=None):
    """Runs cmd under /usr/bin/time; returns (seconds, peak KiB, exit code)."""
    fd, stats = tempfile.mkstemp()
    os.close(fd)
    start = time.perf_counter()
    rc = subprocess.call(["/usr/bin/time", "-f", "%M", "-o", stats] + cmd, env=env, cwd=cwd,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    with open(stats) as f:
        peak = int(f.read().split()[-1])
    os.unlink(stats)
    return elapsed, peak, rc


def sync_disk():
    """Writes back what the last tool left in the page cache; returns seconds."""
    start = time.perf_counter()
    subprocess.check_call(["sync"])
    return time.perf_counter() - start


def prepare_install(work, name, build, port, base_url, host="127.0.0.1"):
    """A fresh installation folder with the updater and its settings file."""
    install = os.path.join(work, name)
    shutil.rmtree(install, ignore_errors=True)
    os.makedirs(os.path.join(install, "config"))
    shutil.copy(os.path.join(build, "console", "TidewellKiro"), install)
    with open(os.path.join(install, "config", "Tidewell.ini"), "w") as f:
        f.write(f"[TIDE]\nSVR_IP_ADDR={host}\nSVR_PORT_NO={port}\n"
                f"DOWNLOAD_BASE_URL={base_url}\nLAST_SETUP_DATE=2026-01-01 00:00:00\n")
    return install


def scratch_env(work):
    """The environment for our runs: desktop, menus and Wine inside work, no proxy."""
    env = dict(os.environ, XDG_DESKTOP_DIR=work, XDG_DATA_HOME=work + "/xdg",
               XDG_CONFIG_HOME=work + "/xdgc", WINEPREFIX=work + "/wine")
    for var in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"):
        env.pop(var, None)
    return env
