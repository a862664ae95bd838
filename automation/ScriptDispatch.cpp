#include "ScriptDispatch.h"

#include <oleauto.h>

#include <vector>

#include "com/Result.h"

namespace vkauto {
namespace {

// What a parameter declared as a pointer expects: SAFEARRAY(T)* or a scalar T*.
struct PointerParam {
    bool isArray = false;
    VARTYPE type = VT_EMPTY;  // element type of an array, else the scalar's type
    bool out = false;
};

bool DescribePointer(const ELEMDESC& element, PointerParam* param) {
    const TYPEDESC& desc = element.tdesc;
    if (desc.vt != VT_PTR || !desc.lptdesc) return false;
    const TYPEDESC& target = *desc.lptdesc;
    param->out = (element.paramdesc.wParamFlags & PARAMFLAG_FOUT) != 0;
    if (target.vt == VT_SAFEARRAY && target.lptdesc) {
        param->isArray = true;
        param->type = target.lptdesc->vt;
        return true;
    }
    // VARIANT* takes a script's variable as it is; only plain scalars need a slot.
    if (target.vt == VT_VARIANT || target.vt == VT_PTR || target.vt == VT_USERDEFINED) return false;
    param->type = target.vt;
    return true;
}

// One argument handed over in the declared form, and how its result goes back.
struct Adapted {
    VARIANT* scriptVariable = nullptr;  // written back after the call (out-arguments)
    PointerParam param;
    SAFEARRAY* array = nullptr;  // the slot an array parameter points at
    VARIANT scalar;              // the slot a scalar parameter points at
};

}  // namespace

HRESULT InvokeForScripts(void* object, ITypeInfo* info, DISPID id, WORD flags, DISPPARAMS* params,
                         VARIANT* result, EXCEPINFO* exception, UINT* badArgument) {
    if (!(flags & DISPATCH_METHOD) || !params || params->cArgs == 0 || params->cNamedArgs > 0)
        return ::DispInvoke(object, info, id, flags, params, result, exception, badArgument);
    TYPEATTR* attributes = nullptr;
    RETURN_IF_FAILED(info->GetTypeAttr(&attributes));
    FUNCDESC* function = nullptr;
    for (UINT i = 0; i < attributes->cFuncs && !function; ++i) {
        FUNCDESC* candidate = nullptr;
        if (FAILED(info->GetFuncDesc(i, &candidate))) continue;
        if (candidate->memid == id && candidate->invkind == INVOKE_FUNC)
            function = candidate;
        else
            info->ReleaseFuncDesc(candidate);
    }
    info->ReleaseTypeAttr(attributes);
    if (!function)
        return ::DispInvoke(object, info, id, flags, params, result, exception, badArgument);

    std::vector<VARIANT> args(params->rgvarg, params->rgvarg + params->cArgs);
    std::vector<Adapted> adapted(params->cArgs);
    const UINT count = static_cast<UINT>(function->cParams) < params->cArgs
                           ? static_cast<UINT>(function->cParams)
                           : params->cArgs;
    for (UINT p = 0; p < count; ++p) {
        PointerParam param;
        if (!DescribePointer(function->lprgelemdescParam[p], &param)) continue;
        const UINT index = params->cArgs - 1 - p;  // arguments come last to first
        VARIANT& arg = args[index];
        if (V_VT(&arg) != (VT_BYREF | VT_VARIANT) || !V_VARIANTREF(&arg)) {
            // An array where SAFEARRAY(T)* is declared, by value or by reference with another
            // element type (a script's fixed-size array): point at it.
            if (param.isArray && !param.out && (V_VT(&arg) & VT_ARRAY)) {
                Adapted& a = adapted[index];
                a.param = param;
                a.array = (V_VT(&arg) & VT_BYREF) ? *V_ARRAYREF(&arg) : V_ARRAY(&arg);
                V_VT(&arg) = VT_BYREF | VT_ARRAY | param.type;
                V_ARRAYREF(&arg) = &a.array;
            }
            continue;
        }
        VARIANT* variable = V_VARIANTREF(&arg);
        Adapted& a = adapted[index];
        a.param = param;
        if (param.isArray) {
            if (param.out) {
                a.scriptVariable = variable;
            } else if (V_VT(variable) & VT_ARRAY) {
                // Borrowed for the call; a script's fixed-size array may sit behind one more
                // reference.
                a.array = (V_VT(variable) & VT_BYREF) ? *V_ARRAYREF(variable) : V_ARRAY(variable);
            } else {
                continue;  // not an array: the type-library dispatch reports it
            }
            V_VT(&arg) = VT_BYREF | VT_ARRAY | param.type;
            V_ARRAYREF(&arg) = &a.array;
        } else {
            ::VariantInit(&a.scalar);
            if (!param.out && FAILED(::VariantChangeType(&a.scalar, variable, 0, param.type)))
                continue;
            if (param.out) {
                a.scriptVariable = variable;
                V_VT(&a.scalar) = param.type;
                V_I8(&a.scalar) = 0;
            }
            V_VT(&arg) = VT_BYREF | param.type;
            V_BYREF(&arg) = &V_I8(&a.scalar);
        }
    }
    info->ReleaseFuncDesc(function);

    DISPPARAMS adaptedParams = {args.data(), nullptr, params->cArgs, 0};
    const HRESULT hr =
        ::DispInvoke(object, info, id, flags, &adaptedParams, result, exception, badArgument);
    for (Adapted& a : adapted) {
        if (!a.scriptVariable) continue;
        if (a.param.isArray) {
            if (!a.array) continue;
            ::VariantClear(a.scriptVariable);
            V_VT(a.scriptVariable) = VT_ARRAY | a.param.type;
            V_ARRAY(a.scriptVariable) = a.array;
        } else if (SUCCEEDED(hr)) {
            ::VariantClear(a.scriptVariable);
            *a.scriptVariable = a.scalar;
        }
    }
    return hr;
}

}  // namespace vkauto
