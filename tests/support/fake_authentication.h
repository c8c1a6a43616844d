#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/authentication.h"

namespace quorlen::testing {

class FakeAuthentication;

// A context that answers from its maker's script and records what the flow did with it.
class FakeContext final : public AuthenticationContext {
  public:
    explicit FakeContext(FakeAuthentication& maker) : maker_(maker) {}

    bool canEvaluatePolicy(int policy) override;
    void setLocalizedReason(std::string reason) override;
    void setTouchIDAuthenticationAllowableReuseDuration(double seconds) override;
    void evaluatePolicy(int policy, std::string reason,
                        std::function<void(bool, Status)> reply) override;
    void invalidate() override;
    Status authenticateForRead() override;
    bool isGranted() const override;

    // What the flow set and called, for the test to read.
    std::string reason;
    std::optional<double> reuseDuration;
    std::vector<std::string> evaluatedReasons;
    int invalidations = 0;
    int reads = 0;

  private:
    FakeAuthentication& maker_;
    bool granted_ = false;
};

// Scripted device-owner authentication. Answers are statuses (0 grants), taken in order;
// with none scripted, every evaluation grants.
class FakeAuthentication final : public Authentication {
  public:
    std::shared_ptr<AuthenticationContext> makeContext() override;

    // The answer of canEvaluatePolicy.
    bool available = true;
    // Answers for the coming evaluations, synchronous or not.
    void scriptAnswers(std::vector<Status> answers);

    // How evaluatePolicy delivers its reply: at once on the calling thread, or held until
    // deliverReplies(), which runs them on a new thread (as the platform would).
    enum class Delivery { immediately, held };
    Delivery delivery = Delivery::immediately;
    // Runs every held reply on one thread of its own and waits for it to finish.
    void deliverReplies();
    std::size_t heldReplies() const;

    // Every context made, oldest first.
    std::vector<std::shared_ptr<FakeContext>> contexts;

  private:
    friend class FakeContext;
    Status nextAnswer();

    mutable std::mutex mutex_;
    std::deque<Status> answers_;
    std::vector<std::function<void()>> held_;
};

}  // namespace quorlen::testing
