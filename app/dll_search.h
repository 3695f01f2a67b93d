#pragma once
// Where the setup process loads DLLs from: the system folder only, never the setup's own folder
// (a Downloads folder, where any web page can drop a file named like a system DLL).
namespace df::setup {

// Makes the system folder the only place the process looks for a DLL by name
// (SetDefaultDllDirectories); false when this Windows lacks the call or refuses it.
bool keep_dll_loads_in_system_folder();

}  // namespace df::setup
