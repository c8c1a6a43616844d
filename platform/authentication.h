#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/status.h"

namespace quorlen {

// Device-owner authentication: biometrics or the account password, as the platform offers.
inline constexpr int LAPolicyDeviceOwnerAuthentication = 2;

// One authentication context, made for one flow and invalidated when the flow ends.
class AuthenticationContext {
  public:
    virtual ~AuthenticationContext() = default;

    // Returns true when the owner can be authenticated on this machine now; false otherwise
    // (no authority, policy not installed, unknown policy).
    virtual bool canEvaluatePolicy(int policy) = 0;

    // Sets the reason the prompt shows when a store read authenticates through this context.
    virtual void setLocalizedReason(std::string reason) = 0;

    // Sets how long an earlier device unlock may stand in for the prompt; 0 means never.
    virtual void setTouchIDAuthenticationAllowableReuseDuration(double seconds) = 0;

    // Evaluates the policy asynchronously. `reply` runs exactly once, on a thread of the
    // platform's choosing, with true only when the owner authenticated; the status tells
    // why not (-128 dismissed, -25293 failed, -25308 no prompt possible, -25291 no authority).
    virtual void evaluatePolicy(int policy, std::string reason,
                                std::function<void(bool success, Status error)> reply) = 0;

    // Ends the context; it grants nothing afterwards.
    virtual void invalidate() = 0;

    // For store backends. Evaluates synchronously and interactively with the context's
    // reason; returns 0 when the owner authenticated, else the status of `evaluatePolicy`.
    virtual Status authenticateForRead() = 0;

    // For store backends. Returns true when an evaluation of this context succeeded and it
    // has not been invalidated since.
    virtual bool isGranted() const = 0;
};

// Makes authentication contexts.
class Authentication {
  public:
    virtual ~Authentication() = default;

    // Returns a fresh context with default settings; never null.
    virtual std::shared_ptr<AuthenticationContext> makeContext() = 0;
};

}  // namespace quorlen
