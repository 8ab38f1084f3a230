#include "tests/support/account_service.h"

#include "foundation/base64.h"

#include <cstdio>

namespace testsupport {
namespace {

bool IsAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsUpperHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

// Only letters, digits and %XX with upper-case hex digits.
bool IsStrictlyEncoded(const std::string& raw) {
    for (size_t i = 0; i < raw.size(); ++i) {
        if (IsAlnum(raw[i])) continue;
        if (raw[i] != '%' || i + 2 >= raw.size() || !IsUpperHex(raw[i + 1]) || !IsUpperHex(raw[i + 2])) return false;
        i += 2;
    }
    return true;
}

// Decodes a value that IsStrictlyEncoded accepted ('+' stays '+').
std::string Decode(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

}  // namespace

void AccountServiceStandIn::ServeOneColourPage(int r, int g, int b) {
    server_.Handle("GET", "/ad2.html", [r, g, b](const HttpRequest&, HttpResponse& resp) {
        resp.SetHeader("Content-Type", "text/html; charset=utf-8");
        resp.body = "<!doctype html><html><head><style>html,body{margin:0;height:100%;background:rgb(" +
                    std::to_string(r) + "," + std::to_string(g) + "," + std::to_string(b) +
                    ")}</style></head><body></body></html>";
    });
}

std::string RememberedLogin(const std::string& email, const std::string& password, bool autologin) {
    return "rememberuser=1\nautologin=" + std::string(autologin ? "1" : "0") +
           "\nusername=" + Base64Encode(email.data(), email.size()) +
           "\npassword=" + Base64Encode(password.data(), password.size()) + "\n";
}

AccountServiceStandIn::AccountServiceStandIn(const IssuedCertificate& cert) : server_(cert.certPem, cert.keyPem) {
    server_.Handle("POST", kEndpoint, [this](const HttpRequest& req, HttpResponse& resp) { Serve(req, resp); });
}

std::string AccountServiceStandIn::BaseUrl() const {
    return "https://127.0.0.1:" + std::to_string(server_.port());
}

void AccountServiceStandIn::SetAccount(const std::string& email, const std::string& password) {
    std::lock_guard<std::mutex> g(lock_);
    email_ = email;
    password_ = password;
}

void AccountServiceStandIn::SetToken(uint32_t token, bool asText) {
    std::lock_guard<std::mutex> g(lock_);
    token_ = token;
    tokenAsText_ = asText;
}

void AccountServiceStandIn::Override(const std::string& command, HttpHandler handler) {
    std::lock_guard<std::mutex> g(lock_);
    if (handler)
        overrides_[command] = std::move(handler);
    else
        overrides_.erase(command);
}

std::vector<std::string> AccountServiceStandIn::Problems() const {
    std::lock_guard<std::mutex> g(lock_);
    return problems_;
}

std::vector<HttpRequest> AccountServiceStandIn::Posts() const {
    std::vector<HttpRequest> posts;
    for (const HttpRequest& req : server_.Requests()) {
        if (req.method == "POST" && req.path == kEndpoint) posts.push_back(req);
    }
    return posts;
}

std::vector<std::string> AccountServiceStandIn::Commands() const {
    std::vector<std::string> commands;
    for (const HttpRequest& req : Posts()) commands.push_back(req.FormField("command"));
    return commands;
}

std::string AccountServiceStandIn::Encode(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (IsAlnum(static_cast<char>(c))) {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

void AccountServiceStandIn::Problem(const std::string& text) {
    std::lock_guard<std::mutex> g(lock_);
    problems_.push_back(text);
}

bool AccountServiceStandIn::Check(const HttpRequest& req, std::string& command, bool& accountOk) {
    // The raw fields, split by hand: a value that was not encoded would show
    // here as an extra field or a changed one.
    std::vector<std::pair<std::string, std::string>> fields;
    size_t pos = 0;
    while (pos <= req.body.size()) {
        size_t amp = req.body.find('&', pos);
        std::string item = req.body.substr(pos, amp == std::string::npos ? std::string::npos : amp - pos);
        size_t eq = item.find('=');
        fields.emplace_back(item.substr(0, eq), eq == std::string::npos ? std::string() : item.substr(eq + 1));
        if (amp == std::string::npos) break;
        pos = amp + 1;
    }
    bool ok = true;
    accountOk = false;
    for (const auto& [name, raw] : fields) {
        if (!IsStrictlyEncoded(raw)) {
            Problem("field " + name + " is not percent-encoded: " + raw);
            ok = false;
        }
    }
    command = fields.empty() ? std::string() : Decode(fields[0].second);
    std::vector<std::string> names;
    for (const auto& f : fields) names.push_back(f.first);
    std::vector<std::string> want = {"command", "acctoken", "email", "password"};
    if (command != "login") want.push_back("token");
    if (names != want) {
        std::string got;
        for (const auto& n : names) got += n + ",";
        Problem("fields of " + command + " in the wrong order or set: " + got);
        return false;
    }
    std::lock_guard<std::mutex> g(lock_);
    if (command != "login" && command != "allproxylist" && command != "getproduct" && command != "getclientinfo") {
        problems_.push_back("unknown command " + command);
        ok = false;
    }
    if (Decode(fields[1].second) != "wokz") {
        problems_.push_back("acctoken is " + fields[1].second);
        ok = false;
    }
    // A wrong account is no protocol fault: the service answers it with its own error.
    accountOk = Decode(fields[2].second) == email_ && Decode(fields[3].second) == password_;
    if (!accountOk) return ok;
    if (command != "login" && fields[4].second != std::to_string(token_)) {
        problems_.push_back(command + " carries token " + fields[4].second + ", issued " + std::to_string(token_));
        ok = false;
    }
    return ok;
}

void AccountServiceStandIn::Serve(const HttpRequest& req, HttpResponse& resp) {
    resp.SetHeader("Content-Type", "application/json; charset=utf-8");
    std::string command;
    bool accountOk = false;
    if (!Check(req, command, accountOk)) {
        resp.status = 400;
        resp.body = R"({"errcode":400,"errmsg":"Bad request."})";
        return;
    }
    HttpHandler custom;
    std::string token;
    {
        std::lock_guard<std::mutex> g(lock_);
        auto it = overrides_.find(command);
        if (it == overrides_.end()) it = overrides_.find("*");
        if (it != overrides_.end()) custom = it->second;
        token = tokenAsText_ ? "\"" + std::to_string(token_) + "\"" : std::to_string(token_);
    }
    if (custom) {
        custom(req, resp);
        return;
    }
    if (!accountOk) {
        resp.body = R"({"errcode":1,"errmsg":"Wrong e-mail or password."})";
        return;
    }
    if (command == "getclientinfo") {
        // A refreshed token, which later requests must carry.
        std::lock_guard<std::mutex> g(lock_);
        ++token_;
        token = tokenAsText_ ? "\"" + std::to_string(token_) + "\"" : std::to_string(token_);
    }
    if (command == "login" || command == "getclientinfo") {
        resp.body = R"({"errcode":0,"errmsg":"","token":)" + token + "}";
    } else if (command == "allproxylist") {
        resp.body = ProxyListReply();
    } else {
        resp.body = ProductReply();
    }
}

std::string AccountServiceStandIn::ProxyListReply() {
    return R"({"errcode":0,"errmsg":"","proxylist":[
 {"paymentmethod":"alipay","paymentmethodname":"Alipay","billingcycle":"Monthly","nextduedate":"2027-01-31",
  "traffic_remaining":"10.5 GB","nodelist":[
   {"type":6,"port":8388,"name":" Tokyo 1 ","hostname":" jp1.example.net ","password":"pw1","method":"aes-256-cfb",
    "protocol":"auth_sha1_v4_compatible","protocolparam":"","obfs":"http_simple_compatible","obfsparam":"cdn.example",
    "traffic_remaining":1.5e9,"product_name":"Gold","group_name":"ignored"},
   {"port":70000,"hostname":"wrap.example.net","password":"pw","method":"aes-256-cfb"},
   {"type":6,"port":"8389","name":"Tokyo 2","hostname":"jp2.example.net","password":"pw2","method":"chacha20-ietf-poly1305",
    "protocol":"origin","obfs":"plain","traffic_remaining":"123abc","product_name":"","group_name":"Silver"},
   {"type":6,"port":443,"hostname":"plain.example.net","password":"pw","method":"rot13"},
   {"type":6,"port":443,"hostname":"bad\r\nhost","password":"pw","method":"aes-128-gcm"},
   {"type":6,"port":443,"hostname":"in ner","password":"pw","method":"aes-128-gcm"},
   {"type":6,"port":0,"hostname":"zero.example.net","password":"pw","method":"aes-128-gcm"},
   {"type":6,"port":443,"hostname":"nopw.example.net","method":"aes-128-gcm"},
   "not a node", 17, null, [1,2],
   {"type":"5","port":1080.9,"name":["odd"],"hostname":"socks.example.net","password":true,"method":"none",
    "protocol":{"x":1},"obfs":7,"traffic_remaining":{"a":1},"group_name":"Socks"}
  ]},
 "not an entry",
 {"traffic_remaining":"entry without nodes"},
 {"paymentmethod":"paypal","paymentmethodname":"PayPal","billingcycle":"Annually","nextduedate":"2027-06-30",
  "traffic_remaining":"99 GB","nodelist":[
   {"type":6,"port":9000,"name":"Frankfurt","hostname":"de.example.net","password":"pw3","method":"aes-128-gcm",
    "protocol":"auth_chain_a","protocolparam":"12:ab","obfs":"tls1.2_ticket_auth","obfsparam":"de.example"},
   {"type":3,"port":3128,"name":"HTTP","hostname":"http.example.net","password":"pw4","method":"whatever"},
   {"type":6,"port":65536,"hostname":"wrap2.example.net","password":"pw","method":"aes-128-gcm"},
   {"type":6,"port":-1,"hostname":"neg.example.net","password":"pw","method":"aes-128-gcm"},
   {"type":6,"port":443,"hostname":"nul\u0000host","password":"pw","method":"aes-128-gcm"},
   {"type":5,"port":1081,"name":"SOCKS","hostname":"s5.example.net","password":"pw5","method":"none"}
  ]},
 {"nodelist":"not an array","traffic_remaining":"ignored later"},
 {"traffic_remaining":"5 GB left","nodelist":{}}
]})";
}

std::string AccountServiceStandIn::ProductReply() {
    return R"({"errcode":0,"errmsg":"","product":[
 {"id":"11","clientid":"22","orderid":"33","pid":"44","regdate":"2026-01-01","name":"Gold","translated_name":"Gold",
  "groupname":"SS","translated_groupname":"SS","domain":"443","dedicatedip":"","serverid":"5","servername":"tokyo",
  "serverip":"192.0.2.1","serverhostname":"jp1.example.net","suspensionreason":"","firstpaymentamount":"10.00",
  "recurringamount":"10.00","paymentmethod":"alipay","paymentmethodname":"Alipay","billingcycle":"Monthly",
  "nextduedate":"2027-01-31","status":"Active","username":"user","password":"secret","subscriptionid":"",
  "promoid":"0","configoptions":{"configoption":[
   {"option":"加密方式","value":"aes-256-cfb"},
   {"option":"协议插件","value":"auth_sha1_v4_compatible"},
   {"option":"混淆插件","value":"http_simple_compatible"},
   {"option":"同时在线设备数:","value":"3"},
   {"option":"other","value":"ignored"}]}},
 {"id":"12","domain":"443","configoptions":{"configoption":[{"option":"协议插件","value":"origin"}]}},
 {"id":"13","domain":"0","configoptions":{"configoption":[{"option":"加密方式","value":"rc4-md5"}]}}
]})";
}

}  // namespace testsupport
