// opcda model read ITEM... | write ITEM=VALUE... [--type T] | props ITEM: items on an
// in-process interaction object (Orvane.OrvaneInteraction), made as the OPC server
// makes them: the model parameter of the ID, else a generic parameter in the root
// named with the whole ID (Init(ID, 3, VT_BSTR, "0")), bound with
// IvkInteraction2::Init and terminated before the end.
#include <cstdio>
#include <string>
#include <vector>

#include "Commands.h"
#include "ServerConnection.h"
#include "com/ValueText.h"
#include "com/Bstr.h"
#include "com/SafeArray.h"
#include "com/Time.h"
#include "com/Variant.h"
#include "ov_interaction.h"
#include "vkmodel.h"

namespace {

constexpr wchar_t kInteractionProgId[] = L"Orvane.OrvaneInteraction";

// The description properties in the order of their IDs, from 5001.
constexpr const wchar_t* kPropertyNames[] = {
    L"Axolent text",
    L"Axolent scaling factor",
    L"Axolent minimum",
    L"Axolent maximum",
    L"Axolent name",
    L"Axolent size index",
    L"Axolent conv index",
    L"Axolent data type",
    L"Axolent ID extension",
    L"Axolent PZD reference para",
    L"Axolent PZD normalization",
    L"Axolent length",
    L"Axolent reserved 5",
    L"Axolent reserved 9",
    L"Axolent identifier",
    L"Axolent description",
};

struct BoundItem {
    std::wstring id;
    com::ComPtr<VKModelParameter> parameter;
    com::UniqueVariant address;
};

class ModelSession {
public:
    ~ModelSession() {
        for (const BoundItem& item : items_) {
            if (interaction2_) interaction2_->Terminate(*item.address);
        }
        if (interaction_) interaction_->ReleaseConnections();
    }

    HRESULT Open() {
        CLSID clsid;
        HRESULT hr = CLSIDFromProgID(kInteractionProgId, &clsid);
        if (SUCCEEDED(hr))
            hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER,
                                  __uuidof(IOrvaneInteraction), interaction_.put_void());
        if (FAILED(hr)) return hr;
        com::ComPtr<IUnknown> root;
        if (FAILED(hr = interaction_->GetModel(root.put()))) {
            interaction_.reset();
            return hr;
        }
        if (FAILED(hr = root.query(&model_))) return hr;
        if (FAILED(hr = interaction_.query(&interaction2_))) return hr;
        if (FAILED(hr = interaction_.query(&bulk_))) return hr;
        return interaction_.query(&properties_);
    }

    // The item of `id`, bound; its index, or a failure.
    HRESULT Bind(const std::wstring& id, size_t* index) {
        const com::UniqueBstr bsId(id);
        BoundItem item;
        item.id = id;
        com::ComPtr<IUnknown> found;
        HRESULT hr = model_->FindParameter(bsId.get(), found.put());
        const bool created = hr != S_OK || !found;
        if (created) {
            // An ID the model does not know: a generic parameter in the root.
            if (FAILED(hr = model_->CreateParameter(bsId.get(), nullptr, found.put()))) return hr;
            if (!found) return E_POINTER;
            if (FAILED(hr = found.query(&item.parameter))) return hr;
            if (FAILED(hr = item.parameter->Init(bsId.get(), 3, VT_BSTR,
                                                 *com::UniqueVariant(std::wstring_view(L"0")))))
                return hr;
        } else if (FAILED(hr = found.query(&item.parameter))) {
            return hr;
        }
        com::UniqueBstr path;
        com::ComPtr<IUnknown> replacement;
        VARTYPE addressType = VT_EMPTY;
        if (FAILED(hr = interaction2_->Init(0, item.parameter.get(), replacement.put(),
                                            &addressType))) {
            // As the server does: an item that cannot be bound leaves no node.
            if (created) model_->DeleteParameter(bsId.get());
            return hr;
        }
        item.parameter->GetAccessPath(path.put());
        item.address = com::UniqueVariant(path.view());
        items_.push_back(std::move(item));
        *index = items_.size() - 1;
        return S_OK;
    }

    const BoundItem& item(size_t index) const { return items_[index]; }
    size_t count() const { return items_.size(); }
    IvkInteraction2* interaction2() const { return interaction2_.get(); }
    IvkBulkInteraction* bulk() const { return bulk_.get(); }
    IvkPropertyAccess* properties() const { return properties_.get(); }

private:
    com::ComPtr<IOrvaneInteraction> interaction_;
    com::ComPtr<VKModelObject> model_;
    com::ComPtr<IvkInteraction2> interaction2_;
    com::ComPtr<IvkBulkInteraction> bulk_;
    com::ComPtr<IvkPropertyAccess> properties_;
    std::vector<BoundItem> items_;
};

void PrintRead(const std::wstring& id, const VARIANT& value, const VARIANT& quality,
               const VARIANT& timestamp) {
    com::UniqueVariant word;
    WORD qualityWord = 0;
    if (SUCCEEDED(VariantChangeType(word.get(), const_cast<VARIANT*>(&quality), 0, VT_UI2)))
        qualityWord = V_UI2(word.get());
    FILETIME time{};
    if (V_VT(&timestamp) == VT_DATE) com::DateToFileTime(V_DATE(&timestamp), &time);
    wprintf(L"%ls = %ls  %ls  quality %ls  %ls\n", id.c_str(), FormatValue(value).c_str(),
            VarTypeName(V_VT(&value)).c_str(), FormatQuality(qualityWord).c_str(),
            FormatFileTime(time).c_str());
}

// One item by IvkInteraction2::Read; false when it failed.
bool ReadOne(ModelSession& session, size_t index) {
    const BoundItem& item = session.item(index);
    com::UniqueVariant value, quality, timestamp;
    const HRESULT hr =
        session.interaction2()->Read(*item.address, value.put(), quality.put(), timestamp.put());
    if (FAILED(hr)) {
        wprintf(L"%ls: error %ls\n", item.id.c_str(), DescribeHr(hr).c_str());
        return false;
    }
    PrintRead(item.id, *value, *quality, *timestamp);
    return true;
}

// All items in one ReadMultiple; false when the call failed (nothing printed but the
// failure).
bool ReadBulk(ModelSession& session) {
    const LONG count = static_cast<LONG>(session.count());
    com::UniqueSafeArray addresses(SafeArrayCreateVector(VT_VARIANT, 0, count));
    for (LONG i = 0; addresses.get() && i < count; ++i)
        SafeArrayPutElement(addresses.get(), &i,
                            const_cast<VARIANT*>(session.item(i).address.get()));
    com::UniqueSafeArray values, qualities, times, errors;
    const HRESULT hr = session.bulk()->ReadMultiple(count, addresses.get(), values.put(),
                                                    qualities.put(), times.put(), errors.put());
    if (FAILED(hr) || !values.get() || !qualities.get() || !times.get()) {
        wprintf(L"bulk read failed: %ls\n", DescribeHr(FAILED(hr) ? hr : E_POINTER).c_str());
        return false;
    }
    wprintf(L"bulk read: %ld items\n", static_cast<long>(count));
    for (LONG i = 0; i < count; ++i) {
        com::UniqueVariant value, quality, timestamp;
        SafeArrayGetElement(values.get(), &i, value.get());
        SafeArrayGetElement(qualities.get(), &i, quality.get());
        SafeArrayGetElement(times.get(), &i, timestamp.get());
        PrintRead(session.item(i).id, *value, *quality, *timestamp);
    }
    return true;
}

int BindAll(ModelSession& session, const std::vector<std::wstring>& ids, const wchar_t* verb) {
    for (const std::wstring& id : ids) {
        size_t index = 0;
        const HRESULT hr = session.Bind(id, &index);
        if (FAILED(hr)) {
            fwprintf(stderr, L"opcda model %ls: %ls: Init failed: %ls\n", verb, id.c_str(),
                     DescribeHr(hr).c_str());
            return kExitCallFailed;
        }
    }
    return kExitOk;
}

int RunRead(ModelSession& session, const std::vector<std::wstring>& ids) {
    if (const int bound = BindAll(session, ids, L"read")) return bound;
    if (session.count() > 1 && ReadBulk(session)) return kExitOk;
    int exitCode = kExitOk;
    for (size_t i = 0; i < session.count(); ++i) {
        if (!ReadOne(session, i)) exitCode = kExitCallFailed;
    }
    return exitCode;
}

int RunWrite(ModelSession& session, const Options& options,
             const std::vector<std::wstring>& arguments) {
    std::vector<std::wstring> ids, texts;
    for (const std::wstring& argument : arguments) {
        const size_t equals = argument.find(L'=');
        if (equals == std::wstring::npos || equals == 0) {
            fwprintf(stderr, L"opcda model write: \"%ls\" is not ITEM=VALUE\n", argument.c_str());
            return kExitUsage;
        }
        ids.push_back(argument.substr(0, equals));
        texts.push_back(argument.substr(equals + 1));
    }
    VARTYPE forced = VT_EMPTY;
    if (options.Has(L"type") && (!ParseTypeName(options.Get(L"type"), &forced) || !forced)) {
        fwprintf(stderr, L"opcda model write: unknown type \"%ls\"\n",
                 options.Get(L"type").c_str());
        return kExitUsage;
    }
    if (const int bound = BindAll(session, ids, L"write")) return bound;
    int exitCode = kExitOk;
    for (size_t i = 0; i < session.count(); ++i) {
        const BoundItem& item = session.item(i);
        VARTYPE type = forced;
        if (!type) {
            com::UniqueBstr path;
            long rights = 0;
            com::UniqueVariant initial;
            item.parameter->GetInit(path.put(), &rights, &type, initial.put());
        }
        com::UniqueVariant value;
        std::wstring message;
        HRESULT hr = ParseValue(texts[i], type, value.put(), &message);
        if (FAILED(hr)) {
            wprintf(L"%ls: %ls\n", item.id.c_str(), message.c_str());
            exitCode = kExitUsage;
            continue;
        }
        if (FAILED(hr = session.interaction2()->Write(*item.address, *value))) {
            wprintf(L"%ls: error %ls\n", item.id.c_str(), DescribeHr(hr).c_str());
            exitCode = kExitCallFailed;
            continue;
        }
        if (!ReadOne(session, i)) exitCode = kExitCallFailed;
    }
    return exitCode;
}

int RunProps(ModelSession& session, const std::vector<std::wstring>& ids) {
    if (ids.size() != 1) {
        fwprintf(stderr, L"opcda model props: name one item\n");
        return kExitUsage;
    }
    if (const int bound = BindAll(session, ids, L"props")) return bound;
    const BoundItem& item = session.item(0);
    // A property the drive refuses (a parameter without texts) is an answer, not a
    // failure of the command.
    for (size_t i = 0; i < ARRAYSIZE(kPropertyNames); ++i) {
        const DWORD id = static_cast<DWORD>(5001 + i);
        com::UniqueVariant value;
        const HRESULT hr = session.properties()->ReadProperty(
            item.parameter.get(), com::UniqueBstr(kPropertyNames[i]).get(), value.put());
        if (FAILED(hr)) {
            wprintf(L"%lu %ls: error %ls\n", id, kPropertyNames[i], DescribeHr(hr).c_str());
        } else {
            wprintf(L"%lu %ls = %ls  %ls\n", id, kPropertyNames[i], FormatValue(*value).c_str(),
                    VarTypeName(value.vt()).c_str());
        }
    }
    return kExitOk;
}

}  // namespace

int RunModelItemsCommand(const Options& options) {
    const std::wstring verb = options.arguments.front();
    const std::vector<std::wstring> rest(options.arguments.begin() + 1, options.arguments.end());
    if (verb != L"read" && verb != L"write" && verb != L"props") {
        fwprintf(stderr, L"opcda model: unknown \"%ls\" (read, write, props)\n", verb.c_str());
        return kExitUsage;
    }
    if (rest.empty()) {
        fwprintf(stderr, L"opcda model %ls: name at least one item\n", verb.c_str());
        return kExitUsage;
    }
    ModelSession session;
    if (const HRESULT hr = session.Open(); FAILED(hr)) {
        fwprintf(stderr, L"opcda model: cannot set up %ls: %ls\n", kInteractionProgId,
                 DescribeHr(hr).c_str());
        return kExitConnect;
    }
    if (verb == L"read") return RunRead(session, rest);
    if (verb == L"write") return RunWrite(session, options, rest);
    return RunProps(session, rest);
}
