#pragma once

namespace corvane {

// The desktop's record that the application starts when the user logs in. Implementations say
// which threads may call them.
class LoginItem {
public:
    virtual ~LoginItem() = default;

    // Asks the desktop afresh on every call; true only when the application is registered and
    // the registration is in force.
    virtual bool isRegistered() const = 0;
    // Both throw Error with the desktop's reason when the change cannot be made; both are made
    // also when the registration is already as asked.
    virtual void registerItem() = 0;
    virtual void unregisterItem() = 0;
};

}  // namespace corvane
