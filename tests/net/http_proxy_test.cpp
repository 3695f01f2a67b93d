// One Http object used by several threads at once through a proxy that wants Basic: the 407
// they meet together leads to one ask, and its answer serves every transfer.
#include "app/log.h"
#include "net/http.h"
#include "tests/support/release_server.h"
#include "tests/support/test_proxy.h"
#include "tests/support/ui_driver.h"

#include <gtest/gtest.h>

#include <thread>

using namespace df::setup;
using namespace df::test;

TEST(HttpProxy, TransfersMeetingA407TogetherAskOnce) {
    TestServer server;
    TestProxy proxy;
    ASSERT_TRUE(server.available() && proxy.available());
    ASSERT_TRUE(server.put_file("doc.txt", "through the proxy"));
    proxy.require_basic("ann", "right-pw");
    proxy.clear_journal();
    constexpr std::size_t TRANSFERS = 4;
    auto refused_so_far = [&] {
        std::size_t n = 0;
        for (const auto& r : proxy.journal()) n += r.status == 407 && r.auth == "none";
        return n;
    };

    for (const char* given : {"right-pw", "wrong-pw"}) {
        SCOPED_TRACE(given);
        proxy.clear_journal();
        std::atomic<int> asks{0};
        ProxySettings settings;
        ProxyAddress address;
        ASSERT_EQ(parse_proxy(proxy.address(), address), ProxyProblem::ok);
        settings.named = address;
        settings.ask = [&](const ProxyQuestion&, ProxyCredentials& out, const std::atomic<bool>*) {
            ++asks;
            // Answer only once every transfer has met the 407: all of them wait meanwhile.
            EXPECT_TRUE(wait_until([&] { return refused_so_far() >= TRANSFERS; }, 20000));
            out.user = L"ann";
            out.password = from_utf8(given);
            return true;
        };
        Http http(settings);
        std::vector<NetError> results(TRANSFERS);
        std::vector<std::string> bodies(TRANSFERS);
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < TRANSFERS; ++i) {
            threads.emplace_back([&, i] {
                results[i] = http.get_text(server.http_base() + "/doc.txt", bodies[i], nullptr, 8000, 1024);
            });
        }
        for (auto& t : threads) t.join();
        EXPECT_EQ(asks.load(), 1);
        for (std::size_t i = 0; i < TRANSFERS; ++i) {
            if (std::string(given) == "right-pw") {
                EXPECT_TRUE(results[i].ok) << results[i].message;
                EXPECT_EQ(bodies[i], "through the proxy");
            } else {
                EXPECT_EQ(results[i].http_status, 407u);
                EXPECT_EQ(results[i].message, std::string(PROXY_REFUSED) + " (" + server.http_base() + "/doc.txt)");
            }
        }
        EXPECT_EQ(http.proxy_failure(), std::string(given) == "right-pw" ? "" : PROXY_REFUSED);
    }
    proxy.open_to_all();
}
