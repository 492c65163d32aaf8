// A library opened while the app runs, the first time a feature needs it, instead of being linked: every
// linked library (with everything it pulls in) is mapped and relocated before the app can show anything.
#pragma once

namespace velaro {

class SharedLibrary {
public:
    // Opens `soname` through the loader's usual search. The library stays loaded for the life of the
    // process: the functions taken from it are kept in tables that are never invalidated.
    explicit SharedLibrary(const char* soname);

    bool isOpen() const { return handle_ != nullptr; }

    // Points `function` at the library's `name`; false (and null) when the library or the name is missing.
    template <class Function>
    bool resolve(Function*& function, const char* name) const {
        function = reinterpret_cast<Function*>(symbol(name));
        return function != nullptr;
    }

private:
    void* symbol(const char* name) const;
    void* handle_ = nullptr;
};

}  // namespace velaro
