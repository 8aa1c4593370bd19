#pragma once

#include <QtGlobal>

#include <array>
#include <cstddef>

/// A control array addressed by the indexes the window gives it: mnuDataBSel runs from 4 to 8.
/// Elements are null where a program leaves the control out, or until it is made.
template <typename T, int First, int Last> class ControlArray {
public:
    static constexpr int first = First;
    static constexpr int last = Last;

    static constexpr bool contains(int index) { return index >= First && index <= Last; }

    T& operator[](int index) {
        Q_ASSERT(contains(index));
        return m_items[static_cast<std::size_t>(index - First)];
    }
    const T& operator[](int index) const {
        Q_ASSERT(contains(index));
        return m_items[static_cast<std::size_t>(index - First)];
    }

    auto begin() { return m_items.begin(); }
    auto end() { return m_items.end(); }
    auto begin() const { return m_items.begin(); }
    auto end() const { return m_items.end(); }

private:
    std::array<T, Last - First + 1> m_items{};
};
