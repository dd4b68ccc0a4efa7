#pragma once

class Form1;

// Stores what the adaptor sends where the dialogues look on the next tick, and
// shows it in the transcript box. The dialogues never read a socket themselves.
class ReceivePath {
public:
    explicit ReceivePath(Form1& form)
        : f(form) {}
    // wsClient's DataArrival: keeps only the latest non-empty chunk.
    void clientDataArrival();
    // wsMenuTelnet's DataArrival: keeps every chunk once the dialogue has begun.
    void menuDataArrival();
    // wsClient's Close: the adaptor ended the command-line connection.
    void clientClose();

private:
    Form1& f;
};
