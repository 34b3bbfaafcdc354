"""Test stand-in for ansible.windows.win_powershell: records, one line each, the host and the
parameters the script would be run with in the file IPOIB_GUIDMASK_TEST_POWERSHELL_LOG names.
Like the real module with a script that does not declare check-mode support, it runs
nothing under --check."""
import json
import os

from ansible.plugins.action import ActionBase


class ActionModule(ActionBase):
    def run(self, tmp=None, task_vars=None):
        result = super().run(tmp, task_vars)
        if self._play_context.check_mode:
            result.update(changed=True, output=[], msg="not run under --check")
            return result
        parameters = self._task.args.get("parameters", {})
        with open(os.environ["IPOIB_GUIDMASK_TEST_POWERSHELL_LOG"], "a", encoding="utf-8") as log:
            log.write(task_vars["inventory_hostname"] + " " +
                      json.dumps(parameters, sort_keys=True) + "\n")
        result.update(changed=True, output=[], parameters=parameters)
        return result
