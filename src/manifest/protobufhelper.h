#pragma once

// The process-wide set-up and tear-down of the protocol-buffer runtime that
// decodes the version message. Called by the entry point only.
namespace ProtobufHelper {

// Ends the process inside the library when the linked runtime does not match
// the one the message code was generated for.
void verifyVersion();
// Frees the library's global data; nothing may use a message afterwards.
void shutdown();

} // namespace ProtobufHelper
