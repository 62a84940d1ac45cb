#include "ui/ErrorMessage.h"

#include "core/Errors.h"
#include "core/MessageTable.h"

namespace ue {

std::string WithFullStop(std::string message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') message += '.';
    return message;
}

std::optional<std::string> ErrorBoxText(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const SilentAbort&) {
        return std::nullopt;
    } catch (const std::exception& e) {
        return WithFullStop(e.what());
    } catch (...) {
        return WithFullStop(Message(MessageId::UnknownException));
    }
}

}  // namespace ue
