#include "model/element.h"

namespace parlix {

namespace {

Element make(const char* name, ElementKind kind, const char* container, const char* text,
             bool visible = true) {
    Element e;
    e.name = name;
    e.kind = kind;
    e.container = container;
    e.text = text;
    e.visible = visible;
    return e;
}

Element hiddenForGood(Element e) {
    e.visible = false;
    e.neverShown = true;
    return e;
}

Element password(Element e) {
    e.password = true;
    return e;
}

Element multiline(Element e) {
    e.multiline = true;
    return e;
}

Element withItems(Element e, std::vector<std::string> items) {
    e.items = std::move(items);
    return e;
}

}  // namespace

std::vector<Element> mainWindowElements() {
    using K = ElementKind;
    Element timer = make("SendMessage", K::Timer, "", "");
    timer.interval = 1000;
    timer.enabled = false;
    return {
        make("SendMsg", K::Window, "", ""),
        timer,
        make("SendMsgURL", K::Transfer, "", ""),
        make("fmConnect", K::Frame, "", ""),
        make("Label7", K::Label, "fmConnect", "UserName:"),
        make("txtUserId", K::TextBox, "fmConnect", ""),
        make("Label6", K::Label, "fmConnect", "PassWord:"),
        password(make("txtUSerPassWord", K::TextBox, "fmConnect", "")),
        make("cmdConnect2", K::Button, "fmConnect", "&Connect"),
        make("cmdexit2", K::Button, "fmConnect", "E&xit"),
        make("Cmd_ServerSetting", K::Button, "fmConnect", "Server Settings"),
        make("Cmd_Internet", K::Button, "fmConnect", "Internet Check"),
        make("Cmd_Logs", K::Button, "fmConnect", "Logs"),
        hiddenForGood(make("Command1", K::Button, "fmConnect", "Sevrer Settings")),
        make("Label10", K::Label, "fmConnect", "Sender ID", false),
        make("TXT_SENDERID", K::TextBox, "fmConnect", "", false),
        make("CMB_Senderid", K::ComboBox, "fmConnect", "", false),
        hiddenForGood(make("Chk_proxy", K::CheckBox, "fmConnect", "Proxy")),
        hiddenForGood(make("Frm_proxy", K::Frame, "fmConnect", "")),
        make("Label2", K::Label, "Frm_proxy", "Address :"),
        make("Text2", K::TextBox, "Frm_proxy", ""),
        make("Label1", K::Label, "Frm_proxy", "Port"),
        make("Text1", K::TextBox, "Frm_proxy", ""),
        make("Label5", K::Label, "Frm_proxy", "User Name"),
        make("Text4", K::TextBox, "Frm_proxy", ""),
        make("Label4", K::Label, "Frm_proxy", "Password"),
        password(make("Text3", K::TextBox, "Frm_proxy", "")),
        make("LblSent", K::Label, "fmConnect", "Sent =  0"),
        make("lblSMS", K::Label, "fmConnect", "Balance =  0"),
        make("Label3", K::Label, "fmConnect", "Time"),
        make("Frm_Logs", K::Frame, "", "Logs"),
        multiline(make("txt_msg", K::TextBox, "Frm_Logs", "")),
        multiline(make("txtMsg", K::TextBox, "Frm_Logs", "")),
        make("Frm_Serversetting", K::Frame, "", "Server Settings", false),
        make("Label8", K::Label, "Frm_Serversetting", "Server Selection :"),
        withItems(make("Combo1", K::ComboBox, "Frm_Serversetting", ""),
                  {"1", "2", "3", "4", "5", "9"}),
        make("TxtNewIP", K::TextBox, "Frm_Serversetting", "", false),
        make("Label9", K::Label, "Frm_Serversetting", "SMS Type"),
        withItems(make("Combo2", K::ComboBox, "Frm_Serversetting", ""), {"TEXT", "FLASH"}),
        make("Chk_VistaOS", K::CheckBox, "Frm_Serversetting", "Vista OS / Windows 7"),
        make("Chk_DownloadDR", K::CheckBox, "Frm_Serversetting", "Download DR", false),
        hiddenForGood(
            make("ChkIdPass", K::CheckBox, "Frm_Serversetting", "Remenber Id && PassWord")),
        make("Cmd_Save", K::Button, "Frm_Serversetting", "Save"),
        make("Cmd_AlterDatabase", K::Button, "Frm_Serversetting", "Alter Databse"),
        hiddenForGood(make("Cmd_DownloadDR", K::Button, "Frm_Serversetting", "DownloadDR")),
        make("Frm_Internet", K::Frame, "", "Internet Check", false),
        multiline(make("Text5", K::TextBox, "Frm_Internet", "")),
        make("Cmd_CheckInternet", K::Button, "Frm_Internet", "Start", false),
    };
}

}  // namespace parlix
