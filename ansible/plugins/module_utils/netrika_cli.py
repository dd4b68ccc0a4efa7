# -*- coding: utf-8 -*-
# Shared by the netrika.fleet modules: running netrika-cli and reading its
# JSON lines. All the logic is the program's own; this only starts it with an
# argument vector (never a shell) and reads what it prints under --json.
# Copyright: (c) 2026, Netrika developers
# MIT License (see LICENSE or https://opensource.org/licenses/MIT)
# SPDX-License-Identifier: MIT

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json

# The options every module takes for the program itself.
CLI_OPTIONS = dict(
    netrika_cli=dict(type='str', default='netrika-cli'),
)

# Events far too many to hand back (a row's stages and its dialogue byte by
# byte); the log file keeps the dialogue.
NOISY_EVENTS = ('stage', 'dialogue')


def cli_program(module):
    """The program to run: netrika_cli as a path, or looked up on PATH."""
    return module.get_bin_path(module.params['netrika_cli'], required=True)


def json_events(text):
    """Every JSON object of the output that names an event, in order.

    netrika-cli --json prints one object a line on standard output and the
    lines for people on standard error, so a line that is not such an object
    is not expected; it is passed over rather than guessed at.
    """
    events = []
    for line in text.splitlines():
        line = line.strip()
        if not line.startswith('{'):
            continue
        try:
            event = json.loads(line)
        except ValueError:
            continue
        if isinstance(event, dict) and 'event' in event:
            events.append(event)
    return events


def run_cli(module, argv, data=None):
    """Runs netrika-cli with argv (a list) and returns (rc, events, stderr).

    data, text or bytes, goes to its standard input: bytes as they are (a
    sheet in UTF-16 or Windows-1252), text with a newline after it.

    A UTF-8 locale is given so that Qt neither warns about nor changes the
    locale Ansible sets; netrika-cli reads no variable of its own. What it
    writes (the report, each adaptor's log with the password it was given)
    is for the user running it alone: umask 077. The network helper sets
    its own.
    """
    rc, out, err = module.run_command(
        argv,
        data=data,
        binary_data=isinstance(data, bytes),
        check_rc=False,
        environ_update=dict(LANG='C.UTF-8', LC_ALL='C.UTF-8'),
        umask=0o077,
    )
    return rc, json_events(out), err


def events_named(events, name):
    return [e for e in events if e.get('event') == name]


def last_event(events, name):
    found = events_named(events, name)
    return found[-1] if found else None


def fields(event, drop=('event', 'time')):
    """An event's fields without its name and time, as a row or an adaptor."""
    return dict((k, v) for k, v in event.items() if k not in drop)


def problem_texts(events):
    return [e.get('text', '') for e in events_named(events, 'problem')]


def quiet_events(events):
    """The events worth handing back: without stages and dialogue."""
    return [e for e in events if e.get('event') not in NOISY_EVENTS]


def why_not(rc, events, stderr):
    """What went wrong when the program ended without the event it owed:
    its problem events, else the last lines it wrote for people."""
    problems = problem_texts(events)
    if problems:
        return '; '.join(problems)
    lines = [l for l in stderr.splitlines() if l.strip()]
    if lines:
        return ' '.join(lines[-3:])
    return 'netrika-cli ended with status {0} and said nothing'.format(rc)
