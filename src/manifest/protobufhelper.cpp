#include "protobufhelper.h"

#include "UpdateMessage.pb.h"

#include <google/protobuf/stubs/common.h>

namespace ProtobufHelper {

void verifyVersion()
{
    GOOGLE_PROTOBUF_VERIFY_VERSION;
}

void shutdown()
{
    google::protobuf::ShutdownProtobufLibrary();
}

} // namespace ProtobufHelper
