#pragma once

// Finding the window's controls by their object names, as a script would.

#include <QCheckBox>
#include <QListWidget>
#include <QWidget>

#include <stdexcept>
#include <string>

template <class T> T* Control(QWidget& window, const char* name) {
    auto* control = window.findChild<T*>(name);
    if (!control)
        throw std::logic_error(std::string("no control ") + name);
    return control;
}

inline QCheckBox* Box(QWidget& window, const char* name) {
    return Control<QCheckBox>(window, name);
}
inline QListWidget* List(QWidget& window, const char* name) {
    return Control<QListWidget>(window, name);
}
