// The Qt Test classes of the desktop program register themselves here; one
// executable runs them all (or the one named on its command line).
#pragma once

#include <QObject>
#include <functional>
#include <vector>

namespace tervalo::apptest {

struct Registration {
    const char* name;
    std::function<QObject*()> make;
};

std::vector<Registration>& Registry();

struct Register {
    Register(const char* name, std::function<QObject*()> make) { Registry().push_back({name, std::move(make)}); }
};

}  // namespace tervalo::apptest

#define TERVALO_APP_TEST(Class) \
    static ::tervalo::apptest::Register register_##Class(#Class, [] { return static_cast<QObject*>(new Class); })
