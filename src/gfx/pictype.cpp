// The picture-type base (error text, extension match) and the list the
// types register in.
#include <tarvex/frame.h>
#include <tarvex/pictype.h>

#include <cstring>

int32_t CPicType::IsType(const char*, const char* extension)
{
    const char* own = nullptr;
    if (extension == nullptr || !GetDesc(&own, nullptr) || own == nullptr)
        return FALSE;
    for (;; ++extension, ++own) {
        auto a = static_cast<unsigned char>(*extension);
        auto b = static_cast<unsigned char>(*own);
        if (a >= 'A' && a <= 'Z')
            a = static_cast<unsigned char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z')
            b = static_cast<unsigned char>(b - 'A' + 'a');
        if (a != b)
            return FALSE;
        if (a == 0)
            return TRUE;
    }
}

int32_t CPicType::SetError(const char* text, int32_t result)
{
    errorText = text;
    return result;
}

const char* CPicType::GetError() { return errorText; }

// ---------------------------------------------------------------- the list

CPicTypeList::~CPicTypeList() { KillAll(); }

int32_t CPicTypeList::Register(CPicType* type)
{
    if (type == nullptr)
        return FALSE;
    return InsertLast(type) ? TRUE : FALSE;
}

int32_t CPicTypeList::Unregister(CPicType* type)
{
    if (type == nullptr)
        return FALSE;
    for (SLListNode* n = first; n != nullptr; n = n->next) {
        if (n->data == type) {
            Unlink(n);
            return TRUE;
        }
    }
    return FALSE;
}

int32_t CPicTypeList::UnregisterAll()
{
    KillAll();
    return TRUE;
}

int32_t CPicTypeList::First() { return CLList::First(); }
int32_t CPicTypeList::Next() { return CLList::Next(); }
int32_t CPicTypeList::Exists() const { return CLList::Exists(); }
int32_t CPicTypeList::NumTypes() const { return GetNumNodes(); }

CPicType* CPicTypeList::GetType(const char* fileName)
{
    if (fileName == nullptr)
        return nullptr;
    const char* dot = std::strrchr(fileName, '.');
    if (dot == nullptr)
        return nullptr;
    // Walks the nodes directly so that the cursor stays where it was.
    for (SLListNode* n = first; n != nullptr; n = n->next) {
        auto* type = static_cast<CPicType*>(n->data);
        if (type != nullptr && type->IsType(fileName, dot + 1))
            return type;
    }
    return nullptr;
}

CPicType* CPicTypeList::GetDesc(const char** extension, const char** description)
{
    auto* type = static_cast<CPicType*>(Get());
    if (type == nullptr)
        return nullptr;
    type->GetDesc(extension, description);
    return type;
}
