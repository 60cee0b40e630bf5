// Helpers of the log-in form tests: the form's script with its file names
// made absolute (the tests run in scratch folders), its ids, and the values
// the form holds after being filled in.
#pragma once

#include <tarvex/checkbox.h>
#include <tarvex/dialog.h>
#include <tarvex/listbox.h>

#include <fstream>
#include <sstream>
#include <string>

namespace tvtest
{

enum : int32_t {
    IDW_LOGIN = 300,
    IDC_USER = 302,
    IDC_PASSWORD = 304,
    IDC_REMEMBER = 305,
    IDC_CONNECTION = 306,
    IDC_LAN = 307,
    IDC_INTERNET = 308,
    IDC_REGION = 310,
    IDC_OK = 311,
    IDC_CANCEL = 312,
};

// data/gui/login.script with "data/..." file names rooted at the source tree.
inline std::string LoginScript()
{
    std::ifstream in(std::string(TARVEX_SOURCE_DIR) + "/data/gui/login.script", std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string text = ss.str(), out;
    const std::string from = " data/", to = std::string(" ") + TARVEX_SOURCE_DIR + "/data/";
    for (size_t at = 0;;) {
        size_t hit = text.find(from, at);
        out += text.substr(at, hit == std::string::npos ? std::string::npos : hit - at);
        if (hit == std::string::npos)
            break;
        out += to;
        at = hit + from.size();
    }
    return out;
}

// What the form holds.
struct LoginValues {
    std::string user, password;
    int32_t remember = 0, connection = 0, region = 0;
    bool operator==(const LoginValues&) const = default;
};

inline LoginValues ReadLogin(CDialog* d)
{
    LoginValues v;
    const char* u = d->GetTextBuffer(IDC_USER, 0);
    const char* p = d->GetTextBuffer(IDC_PASSWORD, 0);
    v.user = u != nullptr ? u : "";
    v.password = p != nullptr ? p : "";
    v.remember = d->GetCtrl(IDC_REMEMBER)->GetSelected();
    v.connection = d->GetCtrl(IDC_CONNECTION)->GetSelected();
    v.region = d->GetCtrl(IDC_REGION)->GetSelected();
    return v;
}

// The window position of a list box's entry n (counted from 1), mid-field.
inline void ListEntryCentre(CDialog* d, int32_t listId, int32_t n, int32_t* x, int32_t* y)
{
    auto* list = static_cast<CListbox*>(d->GetCtrl(listId));
    *x = list->x + (list->width - XLIST_SLIDERWIDTH) / 2;
    *y = list->y + (n - list->firstVisible) * list->fieldHeight + list->fieldHeight / 2;
}

} // namespace tvtest
