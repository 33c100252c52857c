#include "net/HttpStatusText.h"

namespace quillet {

std::string HttpStatusText(int statusId) {
  switch (statusId) {
    case hsResolvingName: return "Resolving name";
    case hsNameResolved: return "Name resolved";
    case hsConnectingToServer: return "Connecting to server";
    case hsConnected: return "Connected";
    case hsSendingRequest: return "Sending Request";
    case hsRequestSent: return "Request sent";
    case hsReceivingResponse: return "Receiving response";
    case hsResponseReceived: return "Response received";
    case hsCtlResponseReceived: return "CTL Response received";
    case hsPrefetch: return "Prefetch";
    case hsClosingConnection: return "Closing connection";
    case hsConnectionClosed: return "Connection closed";
    case hsHandleCreated: return "Handle created";
    case hsHandleClosing: return "Handle closing";
    case hsRequestComplete: return "Request complete";
    case hsRedirect: return "Redirect";
    case hsIntermediateResponse: return "Intermediate response";
    case hsStateChange: return "State change";
    default: return "Unknown status";
  }
}

}  // namespace quillet
