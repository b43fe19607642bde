#include "tests/support/python_servers.h"

#include <cstdlib>

namespace {

constexpr int kStartTimeoutMs = 10000;

constexpr const char kHttpServerScript[] = R"PY(
import functools, http.server, os, sys, threading

class Handler(http.server.SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    def log_message(self, *args):
        pass

threading.Timer(300, lambda: os._exit(0)).start()
server = http.server.ThreadingHTTPServer(
    ("127.0.0.1", 0), functools.partial(Handler, directory=sys.argv[1]))
server.daemon_threads = True
print("PORT", server.server_address[1], flush=True)
server.serve_forever()
)PY";

constexpr const char kScriptedServerScript[] = R"PY(
import email.utils, os, socket, sys, threading, time, zlib

LOG = sys.argv[1]
DOCROOT = sys.argv[2]
LAST_MODIFIED = "Tue, 15 Nov 1994 08:12:31 GMT"
MAX_WAIT = 30
# Bounds on the hostile answers, so that each ends by itself.
ENDLESS_BYTES = 8 << 30
ENDLESS_SECONDS = 120
lock = threading.Lock()

def endless(s, piece):
    """Sends piece() again and again until the client goes or a bound is hit."""
    sent, start = 0, time.monotonic()
    while sent < ENDLESS_BYTES and time.monotonic() - start < ENDLESS_SECONDS:
        data = piece()
        s.sendall(data)
        sent += len(data)

def gzip_zeros():
    c = zlib.compressobj(9, zlib.DEFLATED, 31)
    zeros = bytes(1 << 20)
    return lambda: c.compress(zeros) + c.flush(zlib.Z_SYNC_FLUSH)

def serve_file(s, path, head_only):
    size = os.path.getsize(path)
    lm = email.utils.formatdate(os.path.getmtime(path), usegmt=True)
    reply(s, 200, [("Content-Length", size), ("Last-Modified", lm)], b"", True)
    if not head_only:
        with open(path, "rb") as f:
            s.sendfile(f)

def record(cid, head):
    with lock, open(LOG, "ab") as f:
        f.write(str(cid).encode() + b" " + head + b"\0\n")

def wait_for_close(s):
    s.settimeout(MAX_WAIT)
    try:
        while s.recv(4096):
            pass
    except OSError:
        pass

def read_head(s, buf):
    while b"\r\n\r\n" not in buf:
        data = s.recv(65536)
        if not data or len(buf) > 1 << 20:
            return None, buf
        buf += data
    end = buf.index(b"\r\n\r\n") + 4
    return buf[:end], buf[end:]

def reply(s, status, headers, body=b"", head_only=False):
    lines = ["HTTP/1.1 %d Scripted" % status] + ["%s: %s" % h for h in headers]
    s.sendall(("\r\n".join(lines) + "\r\n\r\n").encode() + (b"" if head_only else body))

def serve(s, cid):
    buf = b""
    s.settimeout(MAX_WAIT)
    while True:
        head, buf = read_head(s, buf)
        if head is None:
            return
        record(cid, head)
        parts = head.split(b"\r\n", 1)[0].decode("latin-1").split(" ")
        method, target = parts[0], parts[1] if len(parts) > 1 else "/"
        if "://" in target:
            target = "/" + target.split("://", 1)[1].partition("/")[2]
        seg = target.lstrip("/").split("/")
        if seg[0] == "rel" and len(seg) > 1:
            seg = seg[1:]
        kind, head_only = seg[0], method == "HEAD"
        lm = ("Last-Modified", LAST_MODIFIED)
        body = b"scripted body\n"
        path = os.path.join(DOCROOT, *seg)
        if os.path.isfile(path):
            serve_file(s, path, head_only)
        elif kind == "ok":
            reply(s, 200, [("Content-Length", len(body)), lm], body, head_only)
        elif kind == "nolm":
            reply(s, 200, [("Content-Length", len(body))], body, head_only)
        elif kind == "chunked":
            reply(s, 200, [("Transfer-Encoding", "chunked"), lm],
                  b"9\r\nchunk-one\r\n9\r\nchunk-two\r\n0\r\n\r\n", head_only)
        elif kind == "short":
            reply(s, 200, [("Content-Length", 1000), lm], b"x" * 100, head_only)
            return
        elif kind == "cutchunk":
            reply(s, 200, [("Transfer-Encoding", "chunked"), lm],
                  b"64\r\n" + b"y" * 100 + b"\r\n", head_only)
            return
        elif kind == "stall":
            reply(s, 200, [("Content-Length", 1000000), lm], b"z" * 100, head_only)
            wait_for_close(s)
            return
        elif kind == "silent":
            wait_for_close(s)
            return
        elif kind == "garbage":
            s.sendall(b"this is not http\r\n\r\n")
            return
        elif kind == "empty":
            return
        elif kind == "empty200":
            reply(s, 200, [("Content-Length", 0), lm], b"", head_only)
        elif kind == "badgzip":
            body = b"\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03not-deflate-data-at-all"
            reply(s, 200, [("Content-Length", len(body)), ("Content-Encoding", "gzip"), lm],
                  body, head_only)
        elif kind == "endless":
            reply(s, 200, [lm, ("Connection", "close")], b"", True)
            if not head_only:
                piece = b"e" * 65536
                endless(s, lambda: piece)
            return
        elif kind == "endlesschunked":
            reply(s, 200, [("Transfer-Encoding", "chunked"), lm], b"", True)
            if head_only:
                continue
            chunk = b"40000\r\n" + b"c" * 0x40000 + b"\r\n"
            endless(s, lambda: chunk)
            return
        elif kind == "endlessheaders":
            line = b"X-More: " + b"h" * 100 + b"\r\n"
            s.sendall(b"HTTP/1.1 200 Scripted\r\n")
            endless(s, lambda: line * 64)
            return
        elif kind == "bigheader":
            s.sendall(b"HTTP/1.1 200 Scripted\r\nX-Big: " + b"b" * (8 << 20) +
                      b"\r\nContent-Length: 10\r\n\r\n0123456789")
            return
        elif kind == "drip":
            reply(s, 200, [("Content-Length", 100000), lm], b"", True)
            def drip():
                time.sleep(2)
                return b"d"
            endless(s, drip)
            return
        elif kind == "gzipbomb":
            reply(s, 200, [("Content-Encoding", "gzip"), ("Connection", "close"), lm], b"", True)
            if not head_only:
                endless(s, gzip_zeros())
            return
        else:
            reply(s, 404, [("Content-Length", 0)])

def handle(s, cid):
    try:
        serve(s, cid)
    except OSError:
        pass
    finally:
        s.close()

threading.Timer(300, lambda: os._exit(0)).start()
server = socket.socket()
server.bind(("127.0.0.1", 0))
server.listen(64)
blackhole = socket.socket()
blackhole.bind(("127.0.0.1", 0))
blackhole.listen(0)
print("PORT", server.getsockname()[1], blackhole.getsockname()[1], flush=True)
count = 0
while True:
    conn, _ = server.accept()
    count += 1
    threading.Thread(target=handle, args=(conn, count), daemon=True).start()
)PY";

// Runs a script and reads the "PORT n [m]" line it prints once listening.
bool StartScript(const CTempDir& dir, CChildProcess* pProcess, const char* pszScript,
                 const std::vector<std::string>& vecArgs, int* pnPort, int* pnPort2,
                 std::string* pstrError) {
    // The system's interpreter starts fastest; version managers' shims add seconds.
    std::vector<std::string> vecArgv = {"/usr/bin/python3", "-u",
                                        dir.WriteFile("server.py", pszScript)};
    vecArgv.insert(vecArgv.end(), vecArgs.begin(), vecArgs.end());
    std::string strPorts;
    if (!pProcess->Start(vecArgv, dir.Sub("server.log")) ||
        !WaitForNumberLine(dir.Sub("server.log"), "PORT ", kStartTimeoutMs, &strPorts)) {
        *pstrError = "server did not start: " + ReadWholeFile(dir.Sub("server.log"));
        pProcess->Stop();
        return false;
    }
    char* pEnd = nullptr;
    *pnPort = static_cast<int>(std::strtol(strPorts.c_str(), &pEnd, 10));
    if (pnPort2 != nullptr)
        *pnPort2 = static_cast<int>(std::strtol(pEnd, nullptr, 10));
    return true;
}

}  // namespace

bool CPythonHttpServer::Start(const std::string& strDocRoot) {
    return StartScript(m_dir, &m_process, kHttpServerScript, {strDocRoot}, &m_nPort, nullptr,
                       &m_strError);
}

bool CScriptedHttpServer::Start() {
    m_dir.WriteFile("files/.keep", "");
    return StartScript(m_dir, &m_process, kScriptedServerScript,
                       {m_dir.Sub("requests.log"), m_dir.Sub("files")}, &m_nPort, &m_nBlackholePort,
                       &m_strError);
}

std::string CScriptedHttpServer::WriteFile(const std::string& strRel,
                                           const std::string& strData) const {
    return m_dir.WriteFile("files/" + strRel, strData);
}

std::vector<ScriptedRequest> CScriptedHttpServer::Requests() const {
    std::vector<ScriptedRequest> vecRequests;
    std::string strLog = ReadWholeFile(m_dir.Sub("requests.log"));
    size_t nPos = 0;
    while (nPos < strLog.size()) {
        size_t nEnd = strLog.find(std::string("\0\n", 2), nPos);
        if (nEnd == std::string::npos)
            break;
        std::string strRecord = strLog.substr(nPos, nEnd - nPos);
        size_t nBlank = strRecord.find(' ');
        ScriptedRequest request;
        request.nConnection = std::atoi(strRecord.c_str());
        request.strHead =
            nBlank == std::string::npos ? std::string() : strRecord.substr(nBlank + 1);
        vecRequests.push_back(request);
        nPos = nEnd + 2;
    }
    return vecRequests;
}
