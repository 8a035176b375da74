-- The pose benchmark's LÖVE side: N walking characters of 20 bones, placed every frame by a Lua
-- forward-kinematics loop (what a LÖVE game does without a skeleton library) and drawn as image
-- quads of one atlas. rig.lua (written by pose_bench) has the bones and the walk cycle's numbers:
-- each bone swings between rest + swing and rest - swing over each half of the cycle with the
-- engine's curve (a cubic with flat ends); the head's green and blue fade to 0.6 and back; the hat
-- shows 4 frames of 5. After 20 warm-up frames it counts frames for the given seconds, prints
-- "love-fps F" and quits. Arguments: N, seconds, then any of "mipmapped" (sample the atlas through
-- mipmaps, nearest level, linear within it, as the engine samples every texture) and "offscreen"
-- (the grid moved 1000 pixels right, out of the window, as draw_bench's off-screen workload).
local rig = require("rig")
local count, seconds = 100, 2
local atlas, quads, hatQuads
local px, py = {}, {}
local bench = require("unthrottled")  -- love.run without its sleep; countFrame
local clock = 0

function love.load(args)
  count = tonumber(args[1]) or count
  seconds = tonumber(args[2]) or seconds
  local mipmapped, offsetX = false, 0
  for k = 3, #args do
    if args[k] == "mipmapped" then mipmapped = true end
    if args[k] == "offscreen" then offsetX = 1000 end
  end
  atlas = love.graphics.newImage("atlas.png", {mipmaps = mipmapped})
  atlas:setFilter("linear", "linear")
  if mipmapped then atlas:setMipmapFilter("nearest") end
  quads, hatQuads = {}, {}
  for i, bone in ipairs(rig.bones) do
    quads[i] = love.graphics.newQuad(bone.quad[1], bone.quad[2], bone.quad[3], bone.quad[4], 64, 64)
  end
  for f, q in ipairs(rig.hatFrames) do hatQuads[f] = love.graphics.newQuad(q[1], q[2], q[3], q[4], 64, 64) end
  local columns = math.ceil(math.sqrt(count * 4 / 3))
  local rows = math.ceil(count / columns)
  for i = 1, count do
    px[i] = offsetX + 20 + ((i - 1) % columns) * 600 / columns
    py[i] = 10 + math.floor((i - 1) / columns) * 400 / rows
  end
end

-- A swing at time t of the cycle: the engine's curve from a to b over a half cycle.
local function swing(bone, t)
  local half = rig.cycle / 2
  local u = t % rig.cycle
  local a, b = bone.rest + bone.swing, bone.rest - bone.swing
  if u >= half then a, b, u = b, a, u - half end
  local s = u / half
  return a + (b - a) * s * s * (3 - 2 * s)
end

function love.draw()
  local g = love.graphics
  local cos, sin, rad, floor = math.cos, math.sin, math.rad, math.floor
  local bones, head, hat = rig.bones, rig.head, rig.hat
  clock = clock + 1
  for c = 1, count do
    local t = clock + c % rig.cycle
    for i = 1, #bones do
      local bone = bones[i]
      local angle, x, y = swing(bone, t)
      if bone.parent == 0 then
        x, y = px[c] + rig.rootX, py[c] + rig.rootY
      else
        local parent = bones[bone.parent]
        local a = rad(parent.worldAngle)
        angle = parent.worldAngle + angle
        x = parent.x + cos(a) * parent.length * bone.along
        y = parent.y + sin(a) * parent.length * bone.along
      end
      bone.worldAngle, bone.x, bone.y = angle, x, y
      local quad = quads[i]
      if i == hat then quad = hatQuads[floor(t / rig.hatFrameTime) % #hatQuads + 1] end
      if i == head then
        local u = t % rig.cycle
        local f = u < rig.cycle / 2 and u / (rig.cycle / 2) or 2 - u / (rig.cycle / 2)
        g.setColor(1, 1 - 0.4 * f, 1 - 0.4 * f, 1)
      end
      g.draw(atlas, quad, x, 480 - y, -rad(angle), 1, 1, 0, bone.thickness / 2)
      if i == head then g.setColor(1, 1, 1, 1) end
    end
  end
  bench.countFrame(seconds)
end
