// Internals shared by the library's source files.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vxfmut {

// Coded error texts: four-digit code followed directly by the text.
inline constexpr const char* kErrUnknownCommandType =
    "1010Unknown command type given to VF_AddToCommandQueue!";
inline constexpr const char* kErrBadFilename = "1020Bad filename passed to VF_AddToCommandQueue!";
inline constexpr const char* kErrRegisterMessage =
    "1030Couldn't register message to communicate with conduit!";
inline constexpr const char* kErrBadCreator = "1040Bad Creator ID specified.";
inline constexpr const char* kErrInstallCopy = "1050Couldn't copy file to install directory.";

// "Vexel Forms DLL Error <code>: <text>[\n<detail>]" in a message box (or on stderr).
void Show_Library_Error(const char* coded_text, const char* detail = nullptr);

// Fills a caller's buffer: zero-filled, at most length - 1 characters; returns the
// text's full length. Nothing is written without a buffer or with length <= 0.
std::int32_t Copy_Out_Text(char* buffer, std::int32_t length, std::string_view text);

// Copies at most kTextSize - 1 characters into a zero-filled field of kTextSize.
void copy_field(char* field, const char* text);

// Runs once at load: attaches the block, reads the registry, registers the message.
void Load_Library_Settings();
// Runs once at unload.
void unload_library();

// Registers a window message name in the name registry beside the block; returns its
// identifier (0xC000 and up), or 0 when the registry cannot be used.
std::uint16_t register_message_name(std::string_view name);

// Reads the registry part of the settings (forms folder, Palm keys, HotSync paths,
// version). Messages go to stderr (they are raised during load).
void load_registry_settings();
// Releases the user manager if this process initialised it.
void release_user_manager();

}  // namespace vxfmut
