# -*- coding: utf-8 -*-
# Copyright: (c) 2026, Netrika developers
# MIT License (see LICENSE or https://opensource.org/licenses/MIT)
# SPDX-License-Identifier: MIT
"""Makes, for each sanity test named, the virtual environment in which
ansible-test runs it, seeing the system's own packages (Debian's pycodestyle,
pylint, voluptuous, yamllint), so that no requirement is fetched from a
package index: ansible-test otherwise fills each environment with pip.

    cd ansible_collections/netrika/fleet
    /usr/bin/python3 tests/sanity/offline_venvs.py pep8 pylint validate-modules yamllint

Run it with the HOME that ansible-test will have; an environment made
before is kept.
"""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import os
import subprocess
import sys

from ansible_test._internal.commands.sanity import hash_pip_commands
from ansible_test._internal.host_configs import NativePythonConfig
from ansible_test._internal.python_requirements import collect_requirements


def main(names):
    version = '{0}.{1}'.format(*sys.version_info[:2])
    python = NativePythonConfig(version=version, path=sys.executable)
    for name in names:
        # The same requirements, so the same folder, as ansible-test's own.
        commands = collect_requirements(python=python, controller=True, virtualenv=False, command=None,
                                        ansible=False, cryptography=False, coverage=False, minimize=False,
                                        sanity=name)
        label = 'sanity.' + name if commands else 'sanity'
        path = os.path.join(os.path.expanduser('~/.ansible/test/venv'), label, version,
                            hash_pip_commands(commands))
        marker = os.path.join(path, 'marker.txt')
        if os.path.exists(marker):
            continue
        subprocess.check_call([sys.executable, '-m', 'venv', '--without-pip', '--system-site-packages', path])
        with open(os.path.join(path, 'meta.install.json'), 'w') as f:
            f.write('[]\n')
        with open(os.path.join(path, 'meta.yaml.json'), 'w') as f:
            f.write('true\n')
        with open(marker, 'w') as f:
            f.write('')


if __name__ == '__main__':
    main(sys.argv[1:])
