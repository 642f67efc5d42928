// The hand-over of a record from a worker thread to a window: from a successful
// post on, the record belongs to the receiver, which takes it back with
// TakePosted; a failed post frees it at once.
#pragma once

#include <windows.h>

#include <memory>

template <class T>
bool PostOwned(HWND window, UINT message, WPARAM wParam, std::unique_ptr<T> record) {
    T* raw = record.release();
    if (PostMessageW(window, message, wParam, reinterpret_cast<LPARAM>(raw))) return true;
    delete raw;
    return false;
}

template <class T>
std::unique_ptr<T> TakePosted(LPARAM lParam) {
    return std::unique_ptr<T>(reinterpret_cast<T*>(lParam));
}
