-- Runner: the pilot on the title screen, a skeletal model (models/runner.model, with its scraps,
-- pictures, two animations and its footstep sound made by make-character.sh). It idles at one
-- side facing the other, runs there, turns round and idles, and so on. Each "step" marker the run
-- cycle passes is a footstep: the runner plays audio/step.wav and counts them on screen.
--
-- Switching animations: a pose plays whatever animation each animatePose names and keeps its
-- running tracks, so the runner goes back to its rest pose first (setDefaultPose).

local GROUND = 188          -- where its feet touch
local LEFT, RIGHT = 60, 580 -- where it turns
local SPEED = 2.5           -- pixels a step while running
local REST = 120            -- steps it idles at each side

function Runner:Init()
    self.idle = getAnimHandle("runner-idle")
    self.run = getAnimHandle("runner-run")
    self.pose = getModelPose(getModelHandle("runner"))
    self.stepMarker = getMarkerIndex(self.run, "step")
    self.stepSound = getSoundHandle("step.wav")
    self.x, self.facing = LEFT, 1
    self.running, self.wait = false, REST * 3 / 4
    self.steps = 0
end

-- Back to the rest pose, then the other animation from its start.
function Runner:switch(running)
    self.running = running
    setDefaultPose(self.pose)
    animatePose(self.pose, running and self.run or self.idle, 0)
end

function Runner:footstep()
    self.steps = self.steps + 1
    playSound(self.stepSound, false, 64)
    if self.steps <= 3 then
        print("demo: footstep " .. self.steps)
    end
end

function Runner:Step()
    if not self.running then
        animatePose(self.pose, self.idle, 1)
        self.wait = self.wait - 1
        if self.wait <= 0 then
            self:switch(true)
        end
        return
    end
    animatePose(self.pose, self.run, 1)
    for _, marker in ipairs(getActiveMarkers(self.pose)) do
        if marker.textIndex == self.stepMarker then
            self:footstep()
        end
    end
    self.x = self.x + SPEED * self.facing
    if (self.facing > 0 and self.x >= RIGHT) or (self.facing < 0 and self.x <= LEFT) then
        self.facing, self.wait = -self.facing, REST
        self:switch(false)
    end
end

function Runner:Render()
    pushMatrix()
    translateRender(math.floor(self.x), GROUND, 0)
    if self.facing < 0 then
        scaleRender(-1, 1)  -- the model faces right
    end
    renderPose(self.pose)
    popMatrix()
    hud:counter("STEPS", self.steps, 10, 470, LABEL)
end

function Runner:ShutDown()
end
