#pragma once

class SetupController;

// Stores what the adaptor sends where the dialogues look on the next tick, and
// shows it in the transcript box. The dialogues never read a socket themselves.
class ReceivePath {
public:
    explicit ReceivePath(SetupController& controller)
        : m_controller(controller) {}
    // commandLineSocket's DataArrival: keeps only the latest non-empty chunk.
    void clientDataArrival();
    // setupMenuSocket's DataArrival: keeps every chunk once the dialogue has begun.
    void menuDataArrival();
    // commandLineSocket's Close: the adaptor ended the command-line connection.
    void clientClose();

private:
    SetupController& m_controller;
};
