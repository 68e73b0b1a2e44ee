#include "Application.h"

#include "Exception.h"

#include <stdexcept>

namespace Application {

std::string ExceptionMessage(std::exception_ptr error) {
    if (!error)
        return {};
    try {
        std::rethrow_exception(error);
    } catch (const Exception& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return {};
    }
}

void HandleException(Toolkit& toolkit, std::exception_ptr error) {
    toolkit.ShowMessage(ExceptionMessage(error));
}

} // namespace Application
