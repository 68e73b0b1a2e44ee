#include "DemoScenario.h"

namespace orvelconsumer {

const std::string& DemoScenario::Text() {
    static const std::string text = R"json({
  "description": "Built-in demo of orvel-sample-consumer: a discount that splits a line, a dialog, a scan result, receipt footers and an external payment that is confirmed on the third poll, and a pauseSession answer signed with the secret's text as the key (a common signing mistake: the tester's Checks tab names it). startSession starts the dialog and the payment over.",
  "events": {
    "startSession": [
      {"body": {}, "resets": ["startPayment", "pollExternalPayment"], "repeat": true}
    ],
    "addSessionLine": [
      {
        "body": {
          "lineChanges": [
            {
              "id": "6f0c1a52-3d7e-4b8a-9e21-5c4d3b2a1f00",
              "lineId": "{{request.line.lineId}}",
              "externalDiscount": {
                "discountId": "2b9e7c14-8a3f-4d6e-b5c2-0f1e2d3c4b5a",
                "quantity": 1,
                "discountPercentage": 50,
                "discountDescription": "Demo: 50% off one item"
              }
            }
          ]
        },
        "repeat": true
      }
    ],
    "startPayment": [
      {
        "body": {
          "dialog": {
            "dialogTitle": "Round up the amount for charity?",
            "required": false,
            "allowMultipleOptions": false,
            "options": [
              {"id": 1, "text": "Round up"},
              {"id": 2, "text": "Add 1.00"},
              {"id": 3, "text": "No, thank you"}
            ]
          }
        }
      }
    ],
    "pauseSession": [
      {"body": {"lineChanges": []}, "faults": {"signature": "secretText"}, "repeat": true}
    ],
    "scanCode": [
      {
        "body": {
          "recognized": true,
          "message": "Loyalty card recognized.",
          "customerMessage": "Welcome back!",
          "relationNumber": 100234
        },
        "repeat": true
      }
    ],
    "completeSession": [
      {
        "body": {
          "receiptFooters": [
            {"id": "9a8b7c6d-5e4f-4a3b-8c2d-1e0f9a8b7c6d", "text": "Thank you for your visit!"},
            {
              "id": "0d1c2b3a-4f5e-4d6c-9b8a-7f6e5d4c3b2a",
              "barcode": {"barcodeType": "EAN13", "barcodeValue": "5901234123457"}
            }
          ]
        },
        "repeat": true
      }
    ],
    "startExternalPayment": [
      {
        "body": {
          "externalPaymentId": "{{externalPayment.externalPaymentId}}",
          "started": true,
          "message": "Payment started on the terminal."
        },
        "resets": ["pollExternalPayment"],
        "repeat": true
      }
    ],
    "pollExternalPayment": [
      {
        "body": {
          "externalPaymentId": "{{externalPayment.externalPaymentId}}",
          "started": true,
          "message": "Waiting for the customer (1 of 2)."
        },
        "faults": {"delayMs": 500}
      },
      {
        "body": {
          "externalPaymentId": "{{externalPayment.externalPaymentId}}",
          "started": true,
          "message": "Waiting for the customer (2 of 2)."
        },
        "faults": {"delayMs": 500}
      },
      {
        "body": {
          "externalPaymentId": "{{externalPayment.externalPaymentId}}",
          "confirmed": true,
          "message": "Payment confirmed.",
          "customerMessage": "Thank you!"
        },
        "repeat": true
      }
    ]
  }
}
)json";
    return text;
}

} // namespace orvelconsumer
