#include "Events.h"

#include <oleauto.h>

namespace vkauto {

EventArgs::~EventArgs() {
    for (Arg& arg : args_)
        if (arg.array) ::SafeArrayDestroy(arg.array);
}

void EventArgs::Long(LONG value) { args_.push_back({VT_I4, value, nullptr, nullptr}); }

void EventArgs::Text(BSTR borrowed) { args_.push_back({VT_BSTR, 0, borrowed, nullptr}); }

void EventArgs::Array(VARTYPE vt, SAFEARRAY* array) {
    args_.push_back({static_cast<VARTYPE>(VT_BYREF | VT_ARRAY | vt), 0, nullptr, array});
}

void EventArgs::Invoke(IDispatch* sink, DISPID id) {
    // DISPPARAMS holds the arguments last to first. A sink may replace an array it was given by
    // reference; whatever the slot then holds is destroyed with this object.
    std::vector<VARIANT> reversed(args_.size());
    for (size_t i = 0; i < args_.size(); ++i) {
        Arg& arg = args_[args_.size() - 1 - i];
        VARIANT& v = reversed[i];
        ::VariantInit(&v);
        V_VT(&v) = arg.vt;
        if (arg.vt == VT_I4)
            V_I4(&v) = arg.number;
        else if (arg.vt == VT_BSTR)
            V_BSTR(&v) = arg.text;
        else
            V_ARRAYREF(&v) = &arg.array;
    }
    DISPPARAMS params = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                 nullptr);
}

}  // namespace vkauto
