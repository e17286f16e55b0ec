#pragma once

// Root of the framework's class tree: only a virtual destructor, so that objects can be
// owned and destroyed through a base pointer.
class CObject {
public:
    virtual ~CObject() = default;
};
