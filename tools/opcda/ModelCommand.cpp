// opcda model [--hidden]: the drive-interaction module's model as the server sees it.
// Creates Orvane.OrvaneInteraction in-process on this (multithreaded) thread, as the
// server does, runs GetModel and the namespace check and prints the tree depth-first:
// a node as "<path>/", a parameter as "<path> = <value>  <type>". Hidden parameters
// ("__...") only with --hidden. With read, write or props behind it: ModelItemsCommand.cpp.
#include <cstdio>
#include <string>

#include "Commands.h"
#include "ServerConnection.h"
#include "com/ValueText.h"
#include "com/Bstr.h"
#include "com/Variant.h"
#include "ov_interaction.h"
#include "ovi_custom.h"
#include "vkmodel.h"

namespace {

constexpr wchar_t kInteractionProgId[] = L"Orvane.OrvaneInteraction";

template <typename Visit>
void ForEachItem(VKModelCollection* collection, Visit visit) {
    long count = 0;
    if (!collection || FAILED(collection->GetCount(&count))) return;
    for (long i = 0; i < count; ++i) {
        com::ComPtr<IUnknown> item;
        if (SUCCEEDED(collection->GetItem(i, item.put())) && item) visit(item.get());
    }
}

void PrintParameter(IUnknown* item, const std::wstring& prefix, bool hidden) {
    com::ComPtr<VKModelParameter2> parameter;
    if (FAILED(item->QueryInterface(__uuidof(VKModelParameter2), parameter.put_void()))) return;
    unsigned short flags = 0;
    parameter->GetFlags(&flags);
    if ((flags & 1) && !hidden) return;
    com::UniqueBstr name;
    parameter->GetName(name.put());
    com::UniqueVariant value;
    const HRESULT hr = parameter->GetValue(value.put());
    if (FAILED(hr))
        wprintf(L"%ls%ls = error %ls\n", prefix.c_str(), name.view().data(),
                DescribeHr(hr).c_str());
    else
        wprintf(L"%ls%ls = %ls  %ls\n", prefix.c_str(), name.view().data(),
                FormatValue(*value).c_str(), VarTypeName(value.vt()).c_str());
}

void PrintNode(VKModelObject* node, const std::wstring& prefix, bool hidden) {
    com::ComPtr<VKModelCollection> parameters, objects;
    if (SUCCEEDED(node->GetParameters(parameters.put())))
        ForEachItem(parameters.get(),
                    [&](IUnknown* item) { PrintParameter(item, prefix, hidden); });
    if (SUCCEEDED(node->GetObjects(objects.put())))
        ForEachItem(objects.get(), [&](IUnknown* item) {
            com::ComPtr<VKModelObject> child;
            if (FAILED(item->QueryInterface(__uuidof(VKModelObject), child.put_void()))) return;
            com::UniqueBstr name;
            child->GetName(name.put());
            const std::wstring path = prefix + name.str() + L"/";
            wprintf(L"%ls\n", path.c_str());
            PrintNode(child.get(), path, hidden);
        });
}

}  // namespace

int RunModelCommand(const Options& options) {
    if (!options.arguments.empty()) return RunModelItemsCommand(options);
    CLSID clsid;
    com::ComPtr<IOrvaneInteraction> interaction;
    HRESULT hr = CLSIDFromProgID(kInteractionProgId, &clsid);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IOrvaneInteraction),
                              interaction.put_void());
    if (FAILED(hr) || !interaction) {
        fwprintf(stderr, L"opcda model: cannot create %ls: %ls\n", kInteractionProgId,
                 DescribeHr(FAILED(hr) ? hr : E_POINTER).c_str());
        return kExitConnect;
    }
    com::ComPtr<IUnknown> root;
    hr = interaction->GetModel(root.put());
    com::ComPtr<VKModelObject> model;
    if (FAILED(hr) || !root || FAILED(root.query(&model))) {
        fwprintf(stderr, L"opcda model: GetModel failed: %ls\n",
                 DescribeHr(FAILED(hr) ? hr : E_POINTER).c_str());
        return kExitCallFailed;
    }
    int exitCode = kExitOk;
    com::ComPtr<IOPCOVI_NameSpace> nameSpace;
    long checked = 0;
    if (FAILED(hr = interaction.query(&nameSpace)) ||
        FAILED(hr = nameSpace->CheckNameSpace(&checked))) {
        fwprintf(stderr, L"opcda model: CheckNameSpace failed: %ls\n", DescribeHr(hr).c_str());
        exitCode = kExitCallFailed;
    }
    PrintNode(model.get(), L"", options.Has(L"hidden"));
    interaction->ReleaseConnections();
    return exitCode;
}
