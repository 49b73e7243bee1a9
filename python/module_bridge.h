#pragma once

#include "python/python_handle.h"

namespace com::mivo::kmr::client {

// The module's one PythonHandle, created on first need and deleted by
// python_fini_env. It also remembers whether the client it was handed to is
// still alive, so that the bridge is never deleted under a running client.
class ModuleBridge {
public:
    // The bridge, created without a Notify when there is none.
    static PythonHandle* Ensure();
    static PythonHandle* Get();
    // Tears down a client still holding the bridge, then deletes the bridge.
    static void Destroy();

    // Stops and destroys the factory's client, dropping the records still
    // waiting for Python.
    static void DestroyClient();

    // The factory's client was created (or found) with the bridge.
    static void ClientCreated();
    // The factory's client was destroyed.
    static void ClientDestroyed();

private:
    ModuleBridge() = delete;
};

}  // namespace com::mivo::kmr::client
