// The German texts a parameter node publishes as COM error information.
// UTF-8 here; the report routine formats them in code page 1252.
#pragma once

namespace vk::msg {

inline constexpr char kOutOfMemory[] = "Nicht genug freier Speicher vorhanden!";
inline constexpr char kNullResult[] =
    "Die übergebene Adresse\nfür den Rückgabewert\nzeigt auf NULL!";
inline constexpr char kNullPointer[] = "Der übergebene Pointer zeigt auf NULL!";
inline constexpr char kNameTaken[] = "Ein Object mit dem Namen\n%s\nist bereits vorhanden.";
inline constexpr char kSeparatorInName[] = "Seperatoren dürfen nicht\nBestandteil des Namens sein.";
inline constexpr char kEmptyName[] = "Geben Sie einen\ngültigen Namen an!";
inline constexpr char kInternalParameter[] =
    "Diese Aktion ist für interne Parameter nicht erlaubt.";
inline constexpr char kInterfaceMissing[] =
    "Das %s-Interface des Objekts\nkonnte nicht geholt werden.";
inline constexpr char kNoParent[] = "kein gültiges ParentObject\ngefunden.";
inline constexpr char kVariantCopy[] = "Beim Kopieren des Variants ist ein Fehler aufgetreten!";
inline constexpr char kClsidToString[] =
    "Bei der Konvertierung der ClsID in einen String ist ein Fehler aufgetreten!";
inline constexpr char kClsidFromString[] =
    "Beim Lesen der ClsID aus einen String ist ein Fehler aufgetreten!";
inline constexpr char kConversion[] =
    "Der Variant vom Typ %s konnte nicht in den Typ %s konvertiert werden.";
inline constexpr char kOutOfRange[] =
    "Der Wert %s liegt nicht\nim erlaubten Bereich\nvon %s bis %s.";
inline constexpr char kTypeMismatch[] =
    "Der Datentyp %s des %s\nstimmt nicht mit dem vorgesehenen Typ %s\ndes Parameters überein.";
inline constexpr char kMinAboveMax[] =
    "Das Minimum darf nicht größer sein,\nals das Maximum von %s.";
inline constexpr char kMaxBelowMin[] =
    "Das Maximum darf nicht kleiner sein,\nals das Minimum von %s.";
inline constexpr char kInvalidDataType[] = "Der Datentyp %d ist nicht gültig!";
inline constexpr char kStorageClass[] =
    "Bei der Zuweisung der ClsID an den Storage\n st ein Fehler aufgetreten!";
inline constexpr char kNoClassId[] = "Die ClsID des Objekts konnte nicht ermittelt werden!";
inline constexpr char kStorageCreate[] = "Beim Anlegen des Storage ist ein Fehler aufgetreten!";
inline constexpr char kStorageInitialized[] = "Der angegebene Storage ist bereits initialisiert!";
inline constexpr char kStorageOpen[] = "Fehler beim Öffnen des Storage.";
inline constexpr char kNoStorage[] = "Das Objekt besitzt keinen Storage!";

// Second arguments of kTypeMismatch: which attribute had the wrong type.
inline constexpr char kOfValue[] = "Wertes ";
inline constexpr char kOfMinimum[] = "Minimums ";
inline constexpr char kOfMaximum[] = "Maximums ";

}  // namespace vk::msg
