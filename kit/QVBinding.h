#pragma once
// A two-way binding: read and write access to a value that lives elsewhere (a screen's state, a model
// property). The kit's editors read through `get` and write through `set`; they never keep a copy.
#include <functional>
#include <utility>

namespace quorvel {

template <typename T>
struct QVBinding {
    std::function<T()> get;
    std::function<void(const T&)> set;

    // Binds to a variable that outlives the binding's users.
    static QVBinding of(T& variable) {
        return {[&variable] { return variable; }, [&variable](const T& v) { variable = v; }};
    }
};

}  // namespace quorvel
