// The description elements and texts of a drive parameter item as item properties:
// each read or write is one request with attribute 0x20 or 0x30 for the item's
// parameter, sent without the module's lock (the channel's turn orders it).
#include "CommLog.h"
#include "DescriptionTable.h"
#include "InteractionCore.h"
#include "ModelNodes.h"
#include "PropertyCodec.h"
#include "Telegram.h"
#include "ValueCodec.h"
#include "com/Bstr.h"
#include "com/Result.h"
#include "com/Variant.h"

namespace orvane::interaction {

HRESULT InteractionCore::PropertyRecord(IUnknown* pParameter, RecordCopy* record) {
    RETURN_HR_IF(E_POINTER, !pParameter);
    com::ComPtr<VKModelParameter> parameter;
    if (FAILED(pParameter->QueryInterface(__uuidof(VKModelParameter), parameter.put_void())) ||
        !parameter)
        return E_POINTER;
    com::UniqueBstr accessPath;
    long rights = 0;
    VARTYPE type = VT_EMPTY;
    com::UniqueVariant initial;
    RETURN_IF_FAILED(parameter->GetInit(accessPath.put(), &rights, &type, initial.put()));
    std::wstring name;
    // Only drive parameters have descriptions.
    RETURN_HR_IF(E_INVALIDARG,
                 ClassifyAddress(accessPath.view(), &name) != ItemKind::DriveParameter);
    return CopyRecord(name, record);
}

HRESULT InteractionCore::PropertyRequest(const RecordCopy& record, BSTR bsName,
                                         DescriptionRequest* request, PropertyCoding* coding) {
    // The text of an unindexed item is the one its current value selects.
    const CurrentValueSource currentValue = [&](VARIANT* value) {
        return ReadDriveItem(record.data.name, value, nullptr, nullptr);
    };
    RETURN_IF_FAILED(LookupDescription(bsName ? bsName : L"", record.data, currentValue, request));
    return PropertyCodingOf(request->propertyId, coding);
}

HRESULT InteractionCore::ReadItemProperty(IUnknown* pParameter, BSTR bsName, VARIANT* pvValue) {
    RETURN_IF_NULL_POINTER(pvValue);
    VariantInit(pvValue);
    RecordCopy record;
    RETURN_IF_FAILED(PropertyRecord(pParameter, &record));
    DescriptionRequest request;
    PropertyCoding coding;
    RETURN_IF_FAILED(PropertyRequest(record, bsName, &request, &coding));
    const DriveParameterRecord& data = record.data;
    const com::UniqueVariant channel(record.channel);
    TelegramTransfer transfer(transfer_, settings_, false);
    CommLogTrace trace;
    ParameterChannel requests(transfer, &trace);
    std::vector<BYTE> values;
    BYTE format = 0;
    RETURN_IF_FAILED(requests.ReadSingle(*channel, NextReference(), data.axis, request.attribute,
                                         request.elements, data.parameter, request.subindex,
                                         &values, &format, nullptr, nullptr));
    return DecodeProperty(coding, data, format, std::move(values), pvValue);
}

HRESULT InteractionCore::WriteItemProperty(IUnknown* pParameter, BSTR bsName,
                                           const VARIANT& value) {
    RecordCopy record;
    RETURN_IF_FAILED(PropertyRecord(pParameter, &record));
    DescriptionRequest request;
    PropertyCoding coding;
    RETURN_IF_FAILED(PropertyRequest(record, bsName, &request, &coding));
    BYTE format = 0;
    RETURN_IF_FAILED(PropertyWriteFormat(coding, record.data, &format));
    std::vector<BYTE> bytes;
    RETURN_IF_FAILED(VariantToBytes(format, value, &bytes));
    const DriveParameterRecord& data = record.data;
    const com::UniqueVariant channel(record.channel);
    TelegramTransfer transfer(transfer_, settings_, false);
    CommLogTrace trace;
    ParameterChannel requests(transfer, &trace);
    return requests.WriteSingle(*channel, NextReference(), data.axis, request.attribute,
                                request.elements, data.parameter, request.subindex, bytes, format);
}

HRESULT InteractionCore::InitItemProperty(IUnknown* pParameter, BSTR bsName, VARTYPE* pvt) {
    RETURN_IF_NULL_POINTER(pvt);
    if (settings_.testAtItemCreate) {
        com::UniqueVariant scratch;
        RETURN_IF_FAILED(ReadItemProperty(pParameter, bsName, scratch.put()));
    }
    RecordCopy record;
    RETURN_IF_FAILED(PropertyRecord(pParameter, &record));
    // Nothing is sent here: the text index does not change the type.
    DescriptionRequest request;
    const CurrentValueSource none = [](VARIANT* value) { return DefaultItemValue(VT_I4, value); };
    RETURN_IF_FAILED(LookupDescription(bsName ? bsName : L"", record.data, none, &request));
    PropertyCoding coding;
    RETURN_IF_FAILED(PropertyCodingOf(request.propertyId, &coding));
    *pvt = PropertyVarType(coding, record.data);
    return S_OK;
}

}  // namespace orvane::interaction
