#pragma once
// The texts the client's status event carries for each stage of a request.

#include <string>

namespace quillet {

enum THttpStatusId {
  hsResolvingName = 10,
  hsNameResolved = 11,
  hsConnectingToServer = 20,
  hsConnected = 21,
  hsSendingRequest = 30,
  hsRequestSent = 31,
  hsReceivingResponse = 40,
  hsResponseReceived = 41,
  hsCtlResponseReceived = 42,
  hsPrefetch = 43,
  hsClosingConnection = 50,
  hsConnectionClosed = 51,
  hsHandleCreated = 60,
  hsHandleClosing = 70,
  hsRequestComplete = 100,
  hsRedirect = 110,
  hsIntermediateResponse = 120,
  hsStateChange = 200,
};

// "Unknown status" for a code without a text of its own.
std::string HttpStatusText(int statusId);

}  // namespace quillet
