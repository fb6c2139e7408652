#include "download_queue_test_support.h"

#include "core/md5.h"
#include "winlib/winlib.h"

std::string Md5Upper(const std::string& bytes) {
    Md5Context context;
    context.Init();
    context.Update(bytes.data(), bytes.size());
    context.Final();
    CString text = Md5DigitsText(context.digest);
    text.MakeUpper();
    return std::string(CStringA(text).GetString());
}

void MirrorServer::Handle(const HttpRequest& r, HttpConnection& c) {
    std::string path = r.target;
    size_t slash = path.find('/', 1);
    std::string kind = slash == std::string::npos ? path : path.substr(0, slash);
    std::string name = slash == std::string::npos ? "" : path.substr(slash + 1);
    if (r.method == "POST" && path == "/web/share/downloadfile?from=share") {
        std::string surl = r.body.substr(r.body.find('=') + 1);
        surl = surl.substr(0, surl.find('&'));
        c.Respond(200, "{\"errno\":0,\"data\":{\"downloadurl\":\"" + server.Url("/good/" + surl) + "\"}}");
        return;
    }
    if (kind == "/s") {
        c.Respond(302, "", "Location: /web/lk/" + name + "?from=share\r\n");
        return;
    }
    if (kind == "/web") {
        std::string surl = name.substr(3, name.find('?') - 3);
        c.Respond(200, "<script>var ctx = { surl : '" + surl + "', download_permit_token: 'T1' };\n" +
                           "var info = {\"nid\": \"77\"};</script>");
        return;
    }
    auto file = m_files.find(name);
    if (file == m_files.end()) {
        c.Respond(404, "no such file");
        return;
    }
    const std::string& content = file->second;
    if (kind == "/good") {
        ServeContent(r, c, content, 262144, 0);
    } else if (kind == "/corrupt") {
        std::string bad = content;
        for (size_t i = 0; i < bad.size(); i += 4096) bad[i] = (char)~bad[i];
        ServeContent(r, c, bad, 262144, 0);
    } else if (kind == "/small") {
        ServeContent(r, c, content.substr(0, 1000), 1000, 0);
    } else if (kind == "/slow") {
        ServeContent(r, c, content, 131072, 150);
    } else if (kind == "/stall") {
        std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(content.size()) +
                           "\r\nConnection: close\r\n\r\n";
        c.Send(head);
        c.Send(content.data(), 65536);
        c.WaitForClose(60000);
    } else {
        c.Respond(404, "no such kind");
    }
}
