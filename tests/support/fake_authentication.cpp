#include "tests/support/fake_authentication.h"

#include <utility>

namespace quorlen::testing {

bool FakeContext::canEvaluatePolicy(int policy) {
    return policy == LAPolicyDeviceOwnerAuthentication && maker_.available;
}

void FakeContext::setLocalizedReason(std::string text) { reason = std::move(text); }

void FakeContext::setTouchIDAuthenticationAllowableReuseDuration(double seconds) {
    reuseDuration = seconds;
}

void FakeContext::evaluatePolicy(int policy, std::string text,
                                 std::function<void(bool, Status)> reply) {
    evaluatedReasons.push_back(text);
    Status answer =
        policy == LAPolicyDeviceOwnerAuthentication ? maker_.nextAnswer() : status::notAvailable;
    if (answer == status::success && invalidations == 0) granted_ = true;
    auto deliver = [reply = std::move(reply), answer] { reply(answer == status::success, answer); };
    if (maker_.delivery == FakeAuthentication::Delivery::immediately) {
        deliver();
    } else {
        std::lock_guard lock(maker_.mutex_);
        maker_.held_.push_back(std::move(deliver));
    }
}

void FakeContext::invalidate() {
    ++invalidations;
    granted_ = false;
}

Status FakeContext::authenticateForRead() {
    ++reads;
    if (invalidations > 0) return status::authFailed;
    Status answer = maker_.nextAnswer();
    if (answer == status::success) granted_ = true;
    return answer;
}

bool FakeContext::isGranted() const { return granted_; }

std::shared_ptr<AuthenticationContext> FakeAuthentication::makeContext() {
    auto context = std::make_shared<FakeContext>(*this);
    contexts.push_back(context);
    return context;
}

void FakeAuthentication::scriptAnswers(std::vector<Status> answers) {
    std::lock_guard lock(mutex_);
    answers_.assign(answers.begin(), answers.end());
}

Status FakeAuthentication::nextAnswer() {
    std::lock_guard lock(mutex_);
    if (answers_.empty()) return status::success;
    Status answer = answers_.front();
    answers_.pop_front();
    return answer;
}

void FakeAuthentication::deliverReplies() {
    std::vector<std::function<void()>> replies;
    {
        std::lock_guard lock(mutex_);
        replies.swap(held_);
    }
    std::thread platformThread([&replies] {
        for (auto& reply : replies) reply();
    });
    platformThread.join();
}

std::size_t FakeAuthentication::heldReplies() const {
    std::lock_guard lock(mutex_);
    return held_.size();
}

}  // namespace quorlen::testing
