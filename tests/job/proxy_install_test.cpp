// Silent installs through the loopback forward proxy: without credentials, with Basic and the
// password from the environment, refused or missing credentials, an unreachable proxy, a
// refused --proxy value, and https through CONNECT. Judged by exit code, log, install folder
// and both journals; the password is searched for in everything the run wrote.
#include "app/log.h"
#include "net/proxy.h"
#include "tests/support/publish_release.h"
#include "tests/support/release_server.h"
#include "tests/support/test_proxy.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

using namespace df::setup;
using namespace df::test;

namespace {

const std::string PASSWORD = "Tq7-proxy-secret-9Xk";

struct Outcome {
    unsigned long exit_code = 0;
    std::string log;
    std::vector<TestServer::Request> origin;
    std::vector<TestProxy::Request> proxied;
};


class ProxyInstall : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.available() && proxy.available()) << "runs beside the release server and the proxy";
        scratch = scratch_folder("proxy-install");
        dir = scratch + L"\\app";
        df::test::ReleaseSpec release;
        release.files = {{"duskfern-overlay.exe", "MZ overlay stand-in", {}, std::nullopt},
                         {"bin/core.dll", std::string(100000, 'c'), {}, std::nullopt}};
        server.clear_faults();
        ASSERT_TRUE(remove_tree(server.root()));
        ASSERT_TRUE(df::test::publish_release(server.root(), server.http_base(), release));
    }

    // One silent run with base as both sources (the GitHub one below /gh); the log and temp
    // folder are inside scratch, so every file the run writes is there.
    Outcome run(const std::wstring& args, const std::wstring& extra_env = L"", const std::string& base = "") {
        const std::string b = base.empty() ? server.http_base() : base;
        std::wstring log = scratch + L"\\setup.log";
        std::wstring cmd = L"\"" + setup_exe() + L"\" --silent --dir \"" + dir + L"\" --log \"" + log + L"\" " + args;
        std::wstring env = L"DUSKFERN_UPDATE_MIRROR=" + from_utf8(b) + L"\nDUSKFERN_UPDATE_BASE=" + from_utf8(b) +
                           L"/gh\nTEMP=" + scratch + L"\nTMP=" + scratch + L"\n" + extra_env;
        server.clear_journal();
        proxy.clear_journal();
        ProcessResult r = run_process(cmd, 120000, env);
        EXPECT_TRUE(r.started);
        EXPECT_FALSE(r.timed_out);
        return Outcome{r.exit_code, read_file(log), server.journal(), proxy.journal()};
    }
    std::wstring via_proxy() const { return L"--proxy " + from_utf8(proxy.address()); }
    static bool has_line(const Outcome& o, const std::string& line) {
        return o.log.find(" " + line + "\r\n") != std::string::npos;
    }
    // The closing line up to the byte counts that follow it.
    static bool has_installed(const Outcome& o, const std::string& line) {
        return o.log.find(" " + line + " bytes_received=") != std::string::npos;
    }

    TestServer server;
    TestProxy proxy;
    std::wstring scratch, dir;
};

}  // namespace

TEST_F(ProxyInstall, SilentRunsThroughTheProxy) {
    const std::string origin = server.http_base().substr(7);  // 127.0.0.1:PORT
    const std::wstring password = L"DUSKFERN_PROXY_PASSWORD=" + from_utf8(PASSWORD);
    struct Case {
        const char* name;
        bool basic;           // the proxy asks for ann's credentials
        std::wstring args;    // after --proxy
        std::wstring env;
        unsigned long exit_code;
        std::string failed;   // the FAILED line's text; empty on success
        const char* final_auth;  // what the proxy saw on the last request
    } cases[] = {
        {"no credentials asked", false, L"", L"", 0, "", "none"},
        {"http:// form of the value", false, L"", L"", 0, "", "none"},
        {"Basic with the password from the environment", true, L" --proxy-user ann", password, 0, "", "right"},
        {"Basic with a wrong password", true, L" --proxy-user ann", L"DUSKFERN_PROXY_PASSWORD=wrong-" +
             from_utf8(PASSWORD), 1, PROXY_REFUSED, "wrong"},
        {"Basic without a user name", true, L"", password, 1, PROXY_ASKS_SILENT, "none"},
        {"Basic without a password", true, L" --proxy-user ann", L"", 1, PROXY_ASKS_SILENT, "none"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        remove_tree(dir);
        if (c.basic) proxy.require_basic("ann", PASSWORD);
        else proxy.open_to_all();
        std::wstring value = std::string(c.name).find("http://") != std::string::npos
                                 ? L"--proxy http://" + from_utf8(proxy.address()) + L"/"
                                 : via_proxy();
        Outcome o = run(value + c.args, c.env);
        EXPECT_EQ(o.exit_code, c.exit_code) << o.log;
        ASSERT_FALSE(o.proxied.empty()) << o.log;
        for (const auto& r : o.proxied) {
            EXPECT_EQ(r.host, origin) << r.target;
            EXPECT_EQ(r.method, "GET");
            // Windows sends the absolute form to a proxy, Wine the origin form.
            EXPECT_TRUE(r.form == "absolute" || r.form == "origin") << r.form;
            if (r.auth != "right") {
                EXPECT_EQ(r.status, c.basic ? 407 : 200) << r.target;
            }
        }
        EXPECT_EQ(o.proxied.back().auth, c.final_auth);
        if (c.failed.empty()) {
            EXPECT_TRUE(has_installed(o, "installed 1.4.0 into " + to_utf8(dir) + " files=2 from_mirror=2 from_github=0"))
                << o.log;
            // Every request reached the origin through the proxy, and once only.
            EXPECT_EQ(o.origin.size(), 4u);
            std::size_t answered = 0;
            for (const auto& r : o.proxied) answered += r.status == 200;
            EXPECT_EQ(answered, o.origin.size());
        } else {
            EXPECT_TRUE(has_line(o, "FAILED " + c.failed)) << o.log;
            EXPECT_TRUE(o.origin.empty()) << "nothing passes a proxy that wants credentials";
            // Refused or missing credentials end the run at once: the other source is not asked.
            std::size_t asked_with = 0;
            for (const auto& r : o.proxied) asked_with += r.auth == "wrong";
            EXPECT_LE(asked_with, 1u) << "refused credentials are not sent again";
        }
        EXPECT_EQ(o.log.find(PASSWORD), std::string::npos);
        EXPECT_TRUE(files_holding(scratch, PASSWORD).empty());
    }
    proxy.open_to_all();
}

TEST_F(ProxyInstall, UnreachableOrRefusedProxy) {
    // Nothing listens on port 9 of the loopback address.
    Outcome unreachable = run(L"--proxy 127.0.0.1:9");
    EXPECT_EQ(unreachable.exit_code, 1u);
    EXPECT_TRUE(has_line(unreachable, "latest from mirror failed: cannot reach the proxy 127.0.0.1:9: cannot connect (" +
                                          server.http_base() + "/latest.json)"))
        << unreachable.log;
    EXPECT_TRUE(unreachable.origin.empty());

    for (const wchar_t* bad : {L"127.0.0.1", L"127.0.0.1:0", L"127.0.0.1:65536", L"https://127.0.0.1:8080",
                               L"ann:pw@127.0.0.1:8080", L""}) {
        SCOPED_TRACE(to_utf8(bad));
        Outcome o = run(L"--proxy \"" + std::wstring(bad) + L"\"");
        EXPECT_EQ(o.exit_code, 2u);
        EXPECT_TRUE(has_line(o, "bad --proxy")) << o.log;
        EXPECT_EQ(o.log.find("pw@"), std::string::npos) << "the refused value is not logged";
        EXPECT_TRUE(o.origin.empty());
        EXPECT_TRUE(o.proxied.empty());
    }
}

TEST_F(ProxyInstall, HttpsGoesThroughAConnectTunnel) {
    const std::string base = server.https_base();
    Outcome direct = run(L"", L"", base);
    // Named "localhost": Wine's WinHTTP opens no tunnel when the proxy's name equals the
    // origin's (both 127.0.0.1 here), and starts TLS with the proxy itself.
    Outcome tunnelled = run(L"--proxy localhost:" + from_utf8(proxy.address().substr(10)), L"", base);
    EXPECT_EQ(direct.exit_code, 1u);
    EXPECT_EQ(tunnelled.exit_code, 1u);
    ASSERT_FALSE(tunnelled.proxied.empty()) << tunnelled.log;
    for (const auto& r : tunnelled.proxied) {
        EXPECT_EQ(r.method, "CONNECT");
        EXPECT_EQ(r.form, "authority");
        EXPECT_EQ(r.host, base.substr(8));
        EXPECT_EQ(r.status, 200);
    }
    // The self-signed certificate fails inside the tunnel as it fails without the proxy.
    auto line = [](const Outcome& o) {
        std::size_t at = o.log.find("latest from mirror failed: ");
        return at == std::string::npos ? std::string() : o.log.substr(at, o.log.find("\r\n", at) - at);
    };
    EXPECT_FALSE(line(direct).empty()) << direct.log;
    EXPECT_EQ(line(tunnelled), line(direct)) << tunnelled.log;
}
