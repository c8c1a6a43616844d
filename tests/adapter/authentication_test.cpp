// Owner authentication against the real polkitd, run as the unprivileged test user, with
// the scripted agent registered for this process.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <string>
#include <thread>

#include "platform/factory.h"

namespace quorlen {
namespace {

constexpr const char* kCopyReason = "Copy this device-only Quorlen key for 20 seconds";
constexpr const char* kDeleteReason = "Delete a device-only Quorlen key";

// The scripted agent, answering from a file the test rewrites between cases.
class Agent {
  public:
    Agent() {
        char folder[] = "/tmp/quorlen-agent-XXXXXX";
        directory_ = ::mkdtemp(folder);
        answers_ = directory_ + "/answers";
        requests_ = directory_ + "/requests";
        answer("password");
        const char* program = std::getenv("QUORLEN_TEST_AGENT");
        if (program == nullptr) return;
        const std::string self = std::to_string(::getpid());
        pid_ = ::fork();
        if (pid_ == 0) {
            // The agent must reach the real system bus, whatever this test points at.
            ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
            std::freopen(requests_.c_str(), "w", stdout);
            ::execl(program, program, self.c_str(), answers_.c_str(), nullptr);
            ::_exit(127);
        }
        // Registered once it has printed "ready".
        for (int i = 0; i < 100 && requestLog().find("ready") == std::string::npos; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ~Agent() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        std::remove(answers_.c_str());
        std::remove(requests_.c_str());
        ::rmdir(directory_.c_str());
    }
    bool registered() const { return requestLog().find("ready") != std::string::npos; }
    void answer(const std::string& word) { std::ofstream(answers_) << word << "\n"; }
    int requests(const std::string& action) const {
        std::string log = requestLog();
        int count = 0;
        for (auto at = log.find("request " + action); at != std::string::npos;
             at = log.find("request " + action, at + 1)) {
            ++count;
        }
        return count;
    }

  private:
    std::string requestLog() const {
        std::ifstream in(requests_);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::string directory_, answers_, requests_;
    pid_t pid_ = -1;
};

TEST(PolkitAuthentication, AnswersWithoutAnAgent) {
    auto authentication = makeSystemAuthentication();
    auto context = authentication->makeContext();
    EXPECT_TRUE(context->canEvaluatePolicy(LAPolicyDeviceOwnerAuthentication));
    EXPECT_FALSE(context->canEvaluatePolicy(1));
    context->setLocalizedReason(kCopyReason);
    EXPECT_EQ(context->authenticateForRead(), status::interactionNotAllowed);
    EXPECT_FALSE(context->isGranted());
    context->setLocalizedReason("Some other reason");
    EXPECT_EQ(context->authenticateForRead(), status::notAvailable);

    // The asynchronous evaluation says the same, on another thread.
    std::promise<std::pair<bool, Status>> replied;
    authentication->makeContext()->evaluatePolicy(LAPolicyDeviceOwnerAuthentication, kDeleteReason,
                                                  [&replied](bool granted, Status why) {
                                                      replied.set_value({granted, why});
                                                  });
    auto future = replied.get_future();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(future.get(), std::make_pair(false, status::interactionNotAllowed));
}

TEST(PolkitAuthentication, MapsTheOwnersAnswers) {
    Agent agent;
    ASSERT_TRUE(agent.registered());
    auto authentication = makeSystemAuthentication();
    const struct {
        const char* answer;
        Status status;
    } cases[] = {
        {"password", status::success},
        {"cancel", status::userCancelled},
        {"wrong", status::authFailed},
    };
    for (const auto& c : cases) {
        agent.answer(c.answer);
        auto context = authentication->makeContext();
        context->setLocalizedReason(kCopyReason);
        EXPECT_EQ(context->authenticateForRead(), c.status) << c.answer;
        EXPECT_EQ(context->isGranted(), c.status == status::success) << c.answer;
        context->invalidate();
        EXPECT_FALSE(context->isGranted());
    }
}

TEST(PolkitAuthentication, EveryReadAsksAnew) {
    Agent agent;
    ASSERT_TRUE(agent.registered());
    auto authentication = makeSystemAuthentication();
    for (int i = 0; i < 2; ++i) {
        auto context = authentication->makeContext();
        context->setLocalizedReason(kCopyReason);
        context->setTouchIDAuthenticationAllowableReuseDuration(0);
        EXPECT_EQ(context->authenticateForRead(), status::success);
    }
    EXPECT_EQ(agent.requests("com.quorlen.safe.copy"), 2);
}

TEST(PolkitAuthentication, EvaluationRepliesOnAnotherThread) {
    Agent agent;
    ASSERT_TRUE(agent.registered());
    auto authentication = makeSystemAuthentication();
    for (const char* answer : {"password", "cancel"}) {
        agent.answer(answer);
        auto context = authentication->makeContext();
        std::promise<std::pair<bool, std::thread::id>> replied;
        context->evaluatePolicy(LAPolicyDeviceOwnerAuthentication, kDeleteReason,
                                [&replied](bool granted, Status) {
                                    replied.set_value({granted, std::this_thread::get_id()});
                                });
        auto future = replied.get_future();
        ASSERT_EQ(future.wait_for(std::chrono::seconds(30)), std::future_status::ready);
        auto [granted, thread] = future.get();
        EXPECT_EQ(granted, std::string(answer) == "password");
        EXPECT_NE(thread, std::this_thread::get_id());
        EXPECT_EQ(context->isGranted(), granted);
    }
    EXPECT_EQ(agent.requests("com.quorlen.safe.delete"), 2);
}

}  // namespace
}  // namespace quorlen
