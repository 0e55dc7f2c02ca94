#include "SoapFault.h"

#include <skarn/platform/dom/VexIDOM_Helper.h>

namespace {

std::string escaped(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out += c;
        }
    }
    return out;
}

}  // namespace

std::string SoapFault::envelope(const char* code, const std::string& text)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"><soap:Body><soap:Fault>"
           "<faultcode>soap:" + std::string(code) + "</faultcode><faultstring>" + escaped(text) +
           "</faultstring></soap:Fault></soap:Body></soap:Envelope>\n";
}

std::string SoapFault::envelope12(const char* code, const std::string& text)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\"><env:Body><env:Fault>"
           "<env:Code><env:Value>env:" + std::string(code) + "</env:Value></env:Code><env:Reason>"
           "<env:Text xml:lang=\"en\">" + escaped(text) + "</env:Text></env:Reason></env:Fault></env:Body></env:Envelope>\n";
}

bool SoapFault::find(const VexIDOM_Node& document, std::string& text)
{
    VexIDOM_Element body = VexIDOM_Helper::findFirstElement(document, "Body");
    VexIDOM_Element fault = body.isNull() ? body : VexIDOM_Helper::findFirstElement(body, "Fault");
    if (fault.isNull())
        return false;
    VexIDOM_Element reason = VexIDOM_Helper::findFirstElement(fault, "faultstring");
    if (reason.isNull()) {
        reason = VexIDOM_Helper::findFirstElement(fault, "Reason");
        reason = reason.isNull() ? reason : VexIDOM_Helper::findFirstElement(reason, "Text");
    }
    text = VexIDOM_Helper::getElementText(reason).str();
    return true;
}
